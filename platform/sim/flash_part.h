#pragma once

// A simulated serial-flash part: the chip at the other end of the camera's
// serial port. It answers the identification commands so that the tool's
// identification table names its code, accepts exactly the opcodes of its
// opcode table, and behaves like a real part where the tool can tell: the
// status register, the write-enable latch, block protection, page programming
// that only clears bits and wraps inside its page, erase granularity, and a
// write-in-progress time after programs and erases.
//
// The array can live in a backing file that is rewritten, range by range,
// after every change, so that a process killed in the middle of a download
// leaves the file as the flash stood.
//
// Not thread-safe: the simulated camera that owns a part serialises its use.

#include "common/clock.h"
#include "device/flash_parts.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tessell::sim {

struct FlashTiming {
    // How long the write-in-progress bit stays set after a page program (or
    // one auto-increment byte) and after a 4 KiB sector erase. A block erase
    // takes the sector time for each 4 KiB it erases, a chip erase likewise.
    std::chrono::microseconds pageProgram{0};
    std::chrono::milliseconds sectorErase{0};
};

struct FlashPartConfig {
    FlashCode code = 0x79;        // a code of the identification table, 0x79..0x8C
    std::size_t size = 0;         // 0: flash::defaultPartSize(code)
    std::filesystem::path file;   // backing file; empty: in memory
    bool protectedAtStart = true; // status register starts at 0x0C
    FlashTiming timing;
};

class FlashPart {
public:
    // Largest array a three-byte address reaches.
    static constexpr std::size_t kMaxSize = 0x1000000;
    static constexpr std::size_t kPageSize = 256;
    static constexpr std::size_t kSectorSize = 0x1000;
    static constexpr std::size_t kBlockSize = 0x10000;

    // Reads the backing file (created erased, all 0xFF, when missing; a file
    // of another size is refused with an error text rather than silently
    // resized). Also refused: a code without an identification answer (0x78,
    // 0x8A, anything outside 0x79..0x8C) and a size that is not a whole number
    // of 4 KiB sectors up to 16 MiB.
    static std::unique_ptr<FlashPart> open(const FlashPartConfig& config, std::string& error);

    FlashPart(const FlashPart&) = delete;
    FlashPart& operator=(const FlashPart&) = delete;
    ~FlashPart();

    FlashCode code() const { return code_; }
    std::size_t size() const { return contents_.size(); }
    const flash::OpcodeTable& opcodes() const { return opcodes_; }

    // Chip select asserted: a new command starts. Asserting it again while it
    // is asserted changes nothing, as on the wire.
    void select();
    // One byte each way while selected. Reads, status and identification
    // answer here; while chip select is released the part ignores the byte
    // and the line reads 0xFF.
    std::uint8_t exchange(std::uint8_t out);
    // Chip select released: a write enable, program, erase or status write
    // received since select() executes now.
    void deselect();
    bool selected() const { return selected_; }

    // Bit 0 write in progress (from the flash timing, via the process clock),
    // bit 1 write-enable latch, bits 2 and 3 block protect. While the write is
    // in progress every command but read status is ignored.
    std::uint8_t statusRegister() const;
    bool writeInProgress() const;

    // The whole array.
    std::span<const std::uint8_t> contents() const { return contents_; }

    // Whole command in one call (select, bytes out, readCount bytes in,
    // deselect): for the firmware model. Call it with chip select released.
    std::vector<std::uint8_t> command(std::span<const std::uint8_t> out, std::size_t readCount);

    // The first failure to write the backing file since open(); empty while
    // every change reached the file. The array keeps the change either way.
    const std::string& fileError() const { return fileError_; }

    // What a part of `code` answers to an identification command (0x90, 0xAB,
    // 0x9F); none for other commands and for codes without an answer. Parts
    // named by the first read answer 0xAB with their device byte and 0x9F
    // with a JEDEC-style id; parts named by a second read answer FF FF FF to
    // every identification command but the one that names them.
    static std::optional<flash::IdBytes> identificationAnswer(FlashCode code, std::uint8_t command);

private:
    enum class Operation {
        None,
        Read,
        FastRead,
        ReadStatus,
        WriteEnable,
        WriteDisable,
        SectorErase,
        BlockErase,
        ChipErase,
        PageProgram,
        AutoIncrementProgram,
        EnableWriteStatus,
        WriteStatus,
        Identify,
    };

    FlashPart(FlashCode code, std::vector<std::uint8_t> contents, std::fstream file,
              std::filesystem::path path, bool protect, FlashTiming timing);

    Operation operationOf(std::uint8_t opcode) const;
    std::uint8_t answer(std::size_t position) const;
    std::size_t commandAddress() const;
    void execute();
    bool mayModify() const;
    void programPage();
    void programAutoIncrement();
    void erase(std::size_t start, std::size_t count, Clock::Duration busyTime);
    void startBusy(Clock::Duration busyTime);
    void persist(std::size_t offset, std::size_t count);

    FlashCode code_;
    const flash::OpcodeTable& opcodes_;
    std::vector<std::uint8_t> contents_;
    std::fstream file_;
    std::filesystem::path path_;
    FlashTiming timing_;
    std::string fileError_;

    std::uint8_t status_ = 0;         // latch and protect bits; busy comes from busyUntil_
    bool writeStatusEnabled_ = false; // 0x50 on parts of program mode 1
    std::optional<Clock::TimePoint> busyUntil_;
    bool autoIncrementActive_ = false;
    std::size_t autoIncrementAddress_ = 0;

    // The command being received.
    bool selected_ = false;
    bool ignored_ = false; // unknown opcode, or sent while busy
    Operation operation_ = Operation::None;
    std::size_t position_ = 0;             // bytes received since select()
    std::array<std::uint8_t, 5> header_{}; // opcode, address, first data byte
    std::array<std::uint8_t, kPageSize> pageLatch_{};
    std::array<bool, kPageSize> pageTouched_{};
};

} // namespace tessell::sim
