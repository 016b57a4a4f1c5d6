// Decoding of the numbers Drive sends as decimal texts (sizes and quota figures).
#include "GoogleDriveProvider/Drive/DriveModels.h"

#include <gtest/gtest.h>

using namespace tw;

namespace {

TEST(DriveDecimal, TakesOneOptionalSignAndDigitsOnly) {
    struct Case {
        const char* text;
        std::optional<qint64> expected;
    };
    const Case cases[] = {
        {"0", 0},
        {"482113", 482113},
        {"+17", 17},
        {"-5", -5},
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {"9223372036854775808", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-88", std::nullopt}, // two signs
        {"-+88", std::nullopt},
        {"++1", std::nullopt},
        {"--1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1e3", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseDecimalInt64(QString::fromUtf8(c.text)), c.expected) << c.text;
    EXPECT_EQ(parseDecimalInt64(QStringLiteral("\u0663")), std::nullopt); // Arabic-Indic 3
}

TEST(DriveDecimal, AFileWithTwoSignsInItsSizeHasNoSize) {
    const auto file = DriveFile::decode(
        R"({"id":"a","name":"n","mimeType":"text/plain","size":"+-482113"})");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->item(QUuid()).sizeBytes, std::nullopt);
}

} // namespace
