// The version the headers carry is the version of the library loaded, and
// both are the project's version.
#include <gtest/gtest.h>

#include <string>

#include "xylotrak.h"

TEST(Version, LibraryAndHeadersAgreeWithTheProject) {
  const std::string fromMacros = std::to_string(XYLOTRAK_VERSION_MAJOR) + "." +
                                 std::to_string(XYLOTRAK_VERSION_MINOR) + "." +
                                 std::to_string(XYLOTRAK_VERSION_PATCH);
  EXPECT_EQ(fromMacros, XYLOTRAK_VERSION_STRING);
  EXPECT_EQ(std::string(xylotrak_version()), XYLOTRAK_VERSION_STRING);
  EXPECT_EQ(std::string(xylotrak_version()), XYLOTRAK_PROJECT_VERSION);
}
