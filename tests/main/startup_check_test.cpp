#include "main/startup_check.h"

#include <gtest/gtest.h>

#include "backend/backend_api.h"
#include "platform/foundation/bundle.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

TEST(StartupCheckTest, NamesMissingResourcesAndRefusesABackendAddressItCannotUse) {
  TempDir empty("no-resources");
  Bundle::setMainResourcePath(empty.str());
  auto problem = startupProblem();
  ASSERT_TRUE(problem);
  EXPECT_NE(problem->find(empty.str()), std::string::npos) << *problem;
  EXPECT_NE(problem->find("DORVALE_RESOURCES"), std::string::npos) << *problem;

  Bundle::setMainResourcePath(DORVALE_SOURCE_RESOURCES);
  for (auto [address, usable] : {std::pair{"", true},
                                 {"http://127.0.0.1:8080/BrevantTest/", true},
                                 {"https://backend.example.org/BrevantTest", true},
                                 {"localhost:8080", false},
                                 {"ftp://files.example.org/", false},
                                 {"http:///BrevantTest/", false},
                                 {"not a url", false}}) {
    ScopedEnv backend(BackendApi::kBackendUrlVariable, address);
    EXPECT_EQ(startupProblem().has_value(), !usable) << address;
  }
  Bundle::setMainResourcePath(std::nullopt);
}

}  // namespace
