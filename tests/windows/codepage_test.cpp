// scripts/test-windows runs every Windows test executable under two locales
// so that texts crossing into the "A" functions meet both a Western (1252)
// and a Cyrillic (1251) ANSI code page. This checks that Wine really gave
// the run the page it was meant to exercise; without it a locale that Wine
// ignored would quietly test 1252 twice.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <string>

TEST(AnsiCodePage, IsTheOneTheRunAskedFor) {
  const char* expected = std::getenv("RILVANO_EXPECT_ACP");
  if (expected == nullptr) GTEST_SKIP() << "RILVANO_EXPECT_ACP is not set: nothing to compare";
  EXPECT_EQ(GetACP(), std::stoul(expected));
}
