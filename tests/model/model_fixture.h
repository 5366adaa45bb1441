// A test on the statically linked model: initialized before each test and
// terminated after it, with every parameter back at the value it had when the
// test began, so that no test sees another's changes.
#pragma once

#include "children/child_host.h"
#include "model/initialize.h"
#include "model/records.h"

#include <gtest/gtest.h>

namespace kestrune::testing {

class ModelTest : public ::testing::Test {
  protected:
    void SetUp() override { modelInitialize(); }
    void TearDown() override {
        modelTerminate();
        modelParameters = defaults;
    }

    const ModelParameters defaults = modelParameters;
};

} // namespace kestrune::testing
