#include "common/text_format.h"

#include <gtest/gtest.h>
#include <string>

namespace tessell {
namespace {

// Every length comes out whole, on both sides of the short-text buffer.
TEST(TextFormat, WholeTextAtEveryLength) {
    for (const std::size_t length : {0u, 1u, 254u, 255u, 256u, 257u, 511u, 512u, 4096u}) {
        const std::string name(length, 'n');
        EXPECT_EQ(formatText("%s:%u", name.c_str(), 7u), name + ":7") << length;
    }
}

} // namespace
} // namespace tessell
