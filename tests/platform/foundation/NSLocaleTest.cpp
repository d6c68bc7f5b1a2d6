// The preferred-language list: default, environment, explicit setting, from many threads.
#include "platform/foundation/NSLocale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

TEST(PreferredLanguages, DefaultThenEnvironmentThenExplicit) {
    ::unsetenv("APP_LANGUAGES");
    NSLocale::resetPreferredLanguages();
    EXPECT_EQ(NSLocale::preferredLanguages(), std::vector<std::string>{"en"});

    ::setenv("APP_LANGUAGES", " fr-CA , uk,,pt-BR ", 1);
    EXPECT_EQ(NSLocale::preferredLanguages(), (std::vector<std::string>{"fr-CA", "uk", "pt-BR"}));
    ::setenv("APP_LANGUAGES", " , ", 1);
    EXPECT_EQ(NSLocale::preferredLanguages(), std::vector<std::string>{"en"});

    const auto before = NSLocale::preferredLanguagesGeneration();
    NSLocale::setPreferredLanguages({"zh-Hans-CN", "en"});
    EXPECT_NE(NSLocale::preferredLanguagesGeneration(), before);
    EXPECT_EQ(NSLocale::preferredLanguages(), (std::vector<std::string>{"zh-Hans-CN", "en"}));
    NSLocale::resetPreferredLanguages();
    EXPECT_EQ(NSLocale::preferredLanguages(), std::vector<std::string>{"en"});
    ::unsetenv("APP_LANGUAGES");
}

TEST(PreferredLanguages, ReadersNeverSeeAHalfWrittenList) {
    const std::vector<std::string> a{"fr", "de", "it"}, b{"ja"};
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) NSLocale::setPreferredLanguages(i % 2 ? a : b);
        stop = true;
    });
    std::thread reader([&] {
        while (!stop) {
            const auto seen = NSLocale::preferredLanguages();
            if (seen != a && seen != b && seen != std::vector<std::string>{"en"}) ++torn;
        }
    });
    writer.join();
    reader.join();
    EXPECT_EQ(torn.load(), 0);
    NSLocale::resetPreferredLanguages();
}
