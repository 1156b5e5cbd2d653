#include "platform/foundation/class_registry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Fetcher {
  virtual ~Fetcher() = default;
  virtual std::string kind() const = 0;
};
struct PlainFetcher : Fetcher {
  std::string kind() const override { return "plain"; }
};
struct VendorFetcher : Fetcher {
  explicit VendorFetcher(std::string address = "") : url(std::move(address)) {}
  std::string kind() const override { return "vendor " + url; }
  std::string url;
};
struct Unrelated {};

TEST(ClassRegistryTest, LookupPrefersThePrefixedNameThenTheBareOne) {
  ClassRegistry registry;
  EXPECT_FALSE((registry.lookup<Fetcher>("Fetcher", "ZSDK_")));
  EXPECT_EQ(registry.make<Fetcher>("Fetcher"), nullptr);

  registry.registerClass<Fetcher>("Fetcher", [] { return std::make_shared<PlainFetcher>(); });
  EXPECT_EQ(registry.lookup<Fetcher>("Fetcher", "ZSDK_")()->kind(), "plain");

  registry.registerClass<Fetcher>("ZSDK_Fetcher", [] { return std::make_shared<VendorFetcher>(); });
  EXPECT_EQ(registry.lookup<Fetcher>("Fetcher", "ZSDK_")()->kind(), "vendor ");
  EXPECT_EQ(registry.make<Fetcher>("Fetcher")->kind(), "plain");

  registry.unregisterClass<Fetcher>("ZSDK_Fetcher");
  EXPECT_EQ(registry.lookup<Fetcher>("Fetcher", "ZSDK_")()->kind(), "plain");
}

TEST(ClassRegistryTest, FactoriesAreKeyedByTheirType) {
  ClassRegistry& registry = ClassRegistry::shared();
  registry.registerClass<Fetcher, const std::string&>(
      "HTTPFetcher", [](const std::string& url) { return std::make_shared<VendorFetcher>(url); });

  // Same name, other type or other arguments: not found, never a wrongly typed factory.
  EXPECT_EQ(registry.make<Unrelated>("HTTPFetcher"), nullptr);
  EXPECT_EQ(registry.make<Fetcher>("HTTPFetcher"), nullptr);
  auto factory = registry.lookup<Fetcher, const std::string&>("HTTPFetcher", "ZSDK_");
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory("http://127.0.0.1/")->kind(), "vendor http://127.0.0.1/");
  registry.unregisterClass<Fetcher, const std::string&>("HTTPFetcher");
  EXPECT_FALSE((registry.factory<Fetcher, const std::string&>("HTTPFetcher")));
}

}  // namespace
