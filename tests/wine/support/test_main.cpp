#include <gtest/gtest.h>

#include "app/application_title.h"
#include "platform/win/application.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  platform::SetApplicationTitle(kApplicationTitle);
  return RUN_ALL_TESTS();
}
