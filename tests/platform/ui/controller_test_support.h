#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ui_application.h"
#include "platform/ui/ui_device.h"
#include "platform/ui/ui_screen.h"
#include "platform/ui/ui_storyboard_segue.h"
#include "platform/ui/ui_view_controller.h"
#include "support/virtual_time.h"

using Events = std::vector<std::string>;
using EventLog = std::shared_ptr<Events>;

// The one log of a test; controllers a storyboard makes find it here too.
inline const EventLog& testLog() {
  static const EventLog log = std::make_shared<Events>();
  return log;
}

// A controller that writes every life-cycle call into a shared log as "<name>.<call>", marking a
// navigation controller's push ("to") and pop ("from").
class Recorder : public UIViewController {
 public:
  explicit Recorder(std::string name) : name_(std::move(name)) {}

  void viewDidLoad() override { note("viewDidLoad"); }
  void viewWillAppear(bool) override {
    note(isMovingToParentViewController() ? "viewWillAppear to" : "viewWillAppear");
  }
  void viewDidAppear(bool) override { note("viewDidAppear"); }
  void viewWillDisappear(bool) override { note("viewWillDisappear"); }
  void viewDidDisappear(bool) override {
    note(isMovingFromParentViewController() ? "viewDidDisappear from" : "viewDidDisappear");
  }
  void prepareForSegue(const UIStoryboardSegue& segue, const std::shared_ptr<void>&) override {
    note("prepareForSegue " + segue.identifier().value_or("") +
         (segue.destinationViewController()->isViewLoaded() ? " (loaded)" : ""));
  }

  void note(const std::string& what) { testLog()->push_back(name_ + "." + what); }

 private:
  std::string name_;
};

// Fresh toolkit globals and a virtual clock for every test.
class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest() {
    UIApplication::resetSharedApplication();
    UIScreen::resetMainScreen();
    UIDevice::resetCurrentDevice();
    UIViewController::clearPresentationRefusals();
    log->clear();
  }

  std::shared_ptr<Recorder> recorder(const std::string& name) { return std::make_shared<Recorder>(name); }
  // The log so far, emptied.
  Events take() {
    auto out = *log;
    log->clear();
    return out;
  }

  VirtualTime time;
  EventLog log = testLog();
};
