// A test on a model of its own: the records under the names the model code
// gives them, the hosted blocks terminated after each test. ModelTest also
// initializes the model before each test.
#pragma once

#include "children/child_host.h"
#include "model/initialize.h"
#include "model/records.h"

#include <gtest/gtest.h>

namespace kestrune::testing {

class ModelData : public ::testing::Test {
  protected:
    void TearDown() override { modelTerminate(model); }

    Model model;
    ModelParameters &modelParameters = model.parameters;
    ModelSignals &modelSignals = model.signals;
    ModelWork &modelWork = model.work;
    ModelInputs &modelInputs = model.inputs;
    ModelOutputs &modelOutputs = model.outputs;
    ModelRecord &modelRecord = model.record;
    const ModelParameters &defaults = DEFAULT_MODEL_PARAMETERS;
};

class ModelTest : public ModelData {
  protected:
    void SetUp() override { modelInitialize(model); }
};

} // namespace kestrune::testing
