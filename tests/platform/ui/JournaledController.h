// A view controller that writes its appearance callbacks into a journal ("name.willAppear"…),
// for tests of the order in which they arrive.
#pragma once

#include "platform/ui/UIViewController.h"

#include <string>
#include <utility>
#include <vector>

class JournaledController : public UIViewController {
public:
    JournaledController(std::string name, std::vector<std::string>& journal)
        : name_(std::move(name)), journal_(journal) {}

    void viewWillAppear(bool animated) override {
        UIViewController::viewWillAppear(animated);
        note("willAppear");
    }
    void viewDidAppear(bool animated) override {
        UIViewController::viewDidAppear(animated);
        note("didAppear");
    }
    void viewWillDisappear(bool animated) override {
        UIViewController::viewWillDisappear(animated);
        note("willDisappear");
    }
    void viewDidDisappear(bool animated) override {
        UIViewController::viewDidDisappear(animated);
        note("didDisappear");
    }

protected:
    void note(const std::string& event) { journal_.push_back(name_ + "." + event); }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::vector<std::string>& journal_;
};
