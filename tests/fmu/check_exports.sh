#!/usr/bin/env bash
# The unit's dynamic symbol table holds exactly the 44 fmi2 functions.
set -euo pipefail
library=$1
expected="fmi2CancelStep fmi2CompletedIntegratorStep fmi2DeSerializeFMUstate fmi2DoStep
fmi2EnterContinuousTimeMode fmi2EnterEventMode fmi2EnterInitializationMode fmi2ExitInitializationMode
fmi2FreeFMUstate fmi2FreeInstance fmi2GetBoolean fmi2GetBooleanStatus fmi2GetContinuousStates
fmi2GetDerivatives fmi2GetDirectionalDerivative fmi2GetEventIndicators fmi2GetFMUstate fmi2GetInteger
fmi2GetIntegerStatus fmi2GetNominalsOfContinuousStates fmi2GetReal fmi2GetRealOutputDerivatives
fmi2GetRealStatus fmi2GetStatus fmi2GetString fmi2GetStringStatus fmi2GetTypesPlatform fmi2GetVersion
fmi2Instantiate fmi2NewDiscreteStates fmi2Reset fmi2SerializeFMUstate fmi2SerializedFMUstateSize
fmi2SetBoolean fmi2SetContinuousStates fmi2SetDebugLogging fmi2SetFMUstate fmi2SetInteger fmi2SetReal
fmi2SetRealInputDerivatives fmi2SetString fmi2SetTime fmi2SetupExperiment fmi2Terminate"
want=$(echo $expected | tr ' ' '\n' | sort)
have=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwDdBbVvIi]$/ {print $3}' | sed 's/@.*//' | sort)
if [ "$want" != "$have" ]; then
  echo "dynamic symbols differ from the 44 fmi2 functions:"
  diff <(echo "$want") <(echo "$have") || true
  exit 1
fi
types=$(nm -D --defined-only "$library" | awk '{print $2}' | sort -u | tr -d '\n')
[ "$types" = "T" ] || { echo "exported symbols that are not functions: $types"; exit 1; }
echo "44 fmi2 functions exported, nothing else"
