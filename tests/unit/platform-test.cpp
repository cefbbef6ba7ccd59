#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

#include "runtime/platform/platform.h"
#include "runtime/throw.h"
#include "runtime/tracked-alloc.h"

namespace kiv {

namespace {

// Sets TZ for one scope and puts the old value back.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

std::uint32_t packed(const std::tm& t, std::uint32_t zone) {
    return static_cast<std::uint32_t>(t.tm_year + 1900) << 17 |
           static_cast<std::uint32_t>(t.tm_mon + 1) << 12 |
           static_cast<std::uint32_t>(t.tm_mday) << 7 | zone;
}

}  // namespace

TEST(Platform, ZoneFieldKeepsSignHoursAndQuarters) {
    struct Case { int bias; std::uint32_t field; };
    const Case cases[] = {
        {0, 0x00},    {120, 0x08},  {-210, 0x4E}, {-195, 0x4D}, {-345, 0x57},
        {330, 0x16},  {345, 0x17},  {-30, 0x42},  {765, 0x33},  {-600, 0x68},
        {840, 0x38},  {-720, 0x70},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::zone_field(c.bias), c.field) << c.bias;
}

TEST(Platform, LocalDateCarriesTheZone) {
    struct Case { const char* tz; std::uint32_t field; };
    // POSIX TZ offsets count west of UTC.
    const Case cases[] = {{"UTC0", 0}, {"XXX3:30", 0x4E}, {"XXX-2", 0x08}, {"XXX-5:45", 0x17}};
    for (const Case& c : cases) {
        ZoneScope zone(c.tz);
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        EXPECT_EQ(platform::get_date(false), packed(local, c.field)) << c.tz;
    }
    ZoneScope zone("XXX3:30");
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    EXPECT_EQ(platform::get_date(true), packed(utc, 0));
}

TEST(Platform, TimeOfDayIsWithinTheDay) {
    double coarse = platform::get_time(false);
    double precise = platform::get_time(true);
    EXPECT_GE(coarse, 0.0);
    EXPECT_LT(precise, 86400.0);
    EXPECT_EQ(coarse, std::floor(coarse));
}

TEST(Platform, WaitSleepsAtLeastOneMillisecond) {
    struct Case { double seconds; std::uint64_t ms; };
    const Case cases[] = {{0, 1},       {0.0004, 1}, {0.0015, 1},   {2.5, 2500},
                          {-3, 1},      {NAN, 1},    {0.001, 1},    {1e20, 9000000000000000}};
    for (const Case& c : cases) EXPECT_EQ(platform::wait_milliseconds(c.seconds), c.ms) << c.seconds;
    auto start = std::chrono::steady_clock::now();
    platform::wait(0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1));
}

TEST(Platform, EnvironmentVariables) {
    ASSERT_TRUE(platform::set_env("KIV_PLATFORM_TEST", "value"));
    char buffer[16];
    EXPECT_EQ(platform::get_env("KIV_PLATFORM_TEST", buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "value");
    // Too small: the size needed, NUL included.
    EXPECT_EQ(platform::get_env("KIV_PLATFORM_TEST", buffer, 5), 6u);
    ASSERT_TRUE(platform::set_env("KIV_PLATFORM_TEST", nullptr));
    EXPECT_EQ(platform::get_env("KIV_PLATFORM_TEST", buffer, sizeof buffer), 0u);
}

TEST(Platform, CurrentDirectory) {
    std::size_t length = 0;
    char* before = platform::get_current_dir(length);
    ASSERT_NE(before, nullptr);
    char scratch[] = "/tmp/kiv-cwd-XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    ASSERT_TRUE(platform::set_current_dir(scratch));
    char* inside = platform::get_current_dir(length);
    char* real = realpath(scratch, nullptr);
    EXPECT_STREQ(inside, real);
    EXPECT_EQ(length, std::strlen(real));
    EXPECT_FALSE(platform::set_current_dir("/no/such/kiv/folder"));
    ASSERT_TRUE(platform::set_current_dir("/"));
    char* root = platform::get_current_dir(length);
    EXPECT_STREQ(root, "/");
    EXPECT_EQ(length, 1u);
    ASSERT_TRUE(platform::set_current_dir(before));
    rmdir(scratch);
    free(real);
    for (char* p : {before, inside, root}) memory::free(p);
}

TEST(Platform, PagesCommitAndComeBackZeroed) {
    std::size_t page = platform::page_size();
    auto* cage = static_cast<unsigned char*>(platform::reserve_pages(16 * page));
    platform::commit_pages(cage + page, 2 * page);
    cage[page] = 7;
    cage[3 * page - 1] = 9;
    platform::decommit_pages(cage + page, 2 * page);
    platform::commit_pages(cage + page, 2 * page);
    EXPECT_EQ(cage[page], 0);
    EXPECT_EQ(cage[3 * page - 1], 0);
    platform::free_pages(cage, 16 * page);

    auto* pages = static_cast<unsigned char*>(platform::allocate_pages(page, false));
    EXPECT_EQ(pages[0], 0);
    pages[page - 1] = 1;
    platform::free_pages(pages, page);
}

TEST(Platform, PageFailuresThrowTheirCodes) {
    struct Case { void (*call)(); std::uint32_t code; };
    const Case cases[] = {
        {[] { platform::reserve_pages(std::size_t{1} << 62); }, throw_code::page_allocation_failed},
        {[] { platform::allocate_pages(std::size_t{1} << 62, false); }, throw_code::page_allocation_failed},
        {[] { platform::commit_pages(reinterpret_cast<void*>(3), 1); }, throw_code::page_allocation_failed},
        {[] { platform::free_pages(reinterpret_cast<void*>(3), 1); }, throw_code::page_release_failed},
        {[] { platform::decommit_pages(reinterpret_cast<void*>(3), 1); }, throw_code::page_release_failed},
    };
    for (const Case& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << "no throw for code " << c.code;
        } catch (const NativeThrow& thrown) {
            EXPECT_EQ(thrown.code, c.code);
        }
    }
}

}  // namespace kiv
