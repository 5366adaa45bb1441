#!/bin/sh
# The Windows library exports exactly the 44 fmi2 functions and imports only
# DLLs that every Windows has (no compiler runtime DLL beside it).
set -eu
dll=$1
objdump=x86_64-w64-mingw32-objdump
dump=$($objdump -p "$dll")
want="fmi2CancelStep fmi2CompletedIntegratorStep fmi2DeSerializeFMUstate fmi2DoStep
fmi2EnterContinuousTimeMode fmi2EnterEventMode fmi2EnterInitializationMode fmi2ExitInitializationMode
fmi2FreeFMUstate fmi2FreeInstance fmi2GetBoolean fmi2GetBooleanStatus fmi2GetContinuousStates
fmi2GetDerivatives fmi2GetDirectionalDerivative fmi2GetEventIndicators fmi2GetFMUstate fmi2GetInteger
fmi2GetIntegerStatus fmi2GetNominalsOfContinuousStates fmi2GetReal fmi2GetRealOutputDerivatives
fmi2GetRealStatus fmi2GetStatus fmi2GetString fmi2GetStringStatus fmi2GetTypesPlatform fmi2GetVersion
fmi2Instantiate fmi2NewDiscreteStates fmi2Reset fmi2SerializeFMUstate fmi2SerializedFMUstateSize
fmi2SetBoolean fmi2SetContinuousStates fmi2SetDebugLogging fmi2SetFMUstate fmi2SetInteger fmi2SetReal
fmi2SetRealInputDerivatives fmi2SetString fmi2SetTime fmi2SetupExperiment fmi2Terminate"
want=$(echo $want | tr ' ' '\n' | sort)
# The name pointer table: lines "\t[   n] name" after "[Ordinal/Name Pointer] Table".
have=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
if [ "$want" != "$have" ]; then
  echo "exported names differ from the 44 fmi2 functions:"
  echo "$have" > /tmp/kestrune-have.$$; echo "$want" > /tmp/kestrune-want.$$
  diff /tmp/kestrune-want.$$ /tmp/kestrune-have.$$ || true
  rm -f /tmp/kestrune-have.$$ /tmp/kestrune-want.$$
  exit 1
fi
imports=$(echo "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll_name in $imports; do
  case $dll_name in
    kernel32.dll | msvcrt.dll) ;;
    *) echo "imports $dll_name, which not every Windows has"; exit 1 ;;
  esac
done
echo "44 fmi2 functions exported; imports: $(echo $imports)"
