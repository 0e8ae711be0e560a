// The result templates of the settings' LOG section: any text as HEADER or
// FORMAT, expanded with any record.

#include "fuzz_input.h"
#include "logs/result_template.h"

using namespace tessell;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    ResultRecord record;
    record.pid = static_cast<std::uint16_t>(input.byte() << 8 | input.byte());
    record.errcode = static_cast<std::int8_t>(input.byte());
    record.sn = input.text();
    record.result = input.text();
    const ResultTemplate parsed = ParseResultTemplate(input.restText());
    std::tm time{};
    time.tm_year = 116;
    time.tm_mon = 8;
    time.tm_mday = 12;
    (void)expandResultTemplate(parsed, record, time);
    return 0;
}
