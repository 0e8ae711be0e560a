#include "device/xu_protocol.h"

namespace tessell {

const char* xuSelectorName(std::uint32_t selector) {
    switch (selector) {
    case XU_REG_ADDRESS:
        return "XU_REG_ADDRESS";
    case XU_REG_DATA:
        return "XU_REG_DATA";
    case XU_SF_CMD_INDEX:
        return "XU_SF_CMD_INDEX";
    case XU_SF_CMD_VALUE:
        return "XU_SF_CMD_VALUE";
    case XU_DFU_ENABLE_CONTROL:
        return "XU_DFU_ENABLE_CONTROL";
    case XU_DFU_ACCESS_CONTROL:
        return "XU_DFU_ACCESS_CONTROL";
    case XU_DFU_CHECKSUM:
        return "XU_DFU_CHECKSUM";
    case XU_ISP_FW_DOWNLOAD_OK:
        return "XU_ISP_FW_DOWNLOAD_OK";
    case XU_SF_SECTOR_ERASE:
        return "XU_SF_SECTOR_ERASE";
    case XU_SF_ADDRESS:
        return "XU_SF_ADDRESS";
    case XU_SF_DATA_4K:
        return "XU_SF_DATA_4K";
    case XU_SF_CMD_FLAGS:
        return "XU_SF_CMD_FLAGS";
    case XU_ISP_SERIAL_FLASH:
        return "XU_ISP_SERIAL_FLASH";
    case XU_SF_DATA_64:
        return "XU_SF_DATA_64";
    case XU_SF_ID:
        return "XU_SF_ID";
    case XU_SF_PARAM_BLOCK:
        return "XU_SF_PARAM_BLOCK";
    case XU_FW_CHECKSUM_TRIGGER:
        return "XU_FW_CHECKSUM_TRIGGER";
    default:
        return "XU_UNKNOWN";
    }
}

} // namespace tessell
