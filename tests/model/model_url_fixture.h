#pragma once

#include <gtest/gtest.h>

#include <string>

#include "model/model_url_builder.h"

// Installs a URL builder that counts its calls, like the backend API's: base URL then the path.
class ModelUrlFixture : public testing::Test {
 protected:
  static constexpr const char* kBase = "https://backend.test/Brevant/";

  void SetUp() override {
    ModelUrlBuilder::install([this](const std::string& path) {
      ++urlBuilds;
      return std::string(kBase) + path;
    });
  }
  void TearDown() override { ModelUrlBuilder::install(nullptr); }

  int urlBuilds = 0;
};
