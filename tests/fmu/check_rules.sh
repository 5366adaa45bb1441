#!/bin/sh
# kestrune-describe --check accepts a generated modelDescription.xml, and
# refuses copies broken in ways its schema cannot catch, each with a message
# that names the broken rule. The cases depend on what the description is:
# FMI 2.0, FMI 3.0 co-simulation, or FMI 3.0 scheduled execution.
# Usage: check_rules.sh DESCRIBE DESCRIPTION
set -eu
describe=$1 description=$2
"$describe" --check "$description"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
broken=0
check() { # name sed-expression expected-message ("" when the copy must pass)
  sed "$2" "$description" > "$work/$1.xml"
  if cmp -s "$description" "$work/$1.xml"; then
    echo "the edit '$1' changed nothing"; broken=1; return
  fi
  if "$describe" --check "$work/$1.xml" > "$work/$1.out" 2>&1; then
    [ -z "$3" ] || { echo "'$1' passed the check"; broken=1; }
  elif [ -z "$3" ] || ! grep -qF -- "$3" "$work/$1.out"; then
    echo "'$1' gave, instead of '$3':"; cat "$work/$1.out"; broken=1
  fi
}
if grep -q 'fmiVersion="2.0"' "$description"; then
  check input-with-initial 's/causality="input" variability="continuous"/& initial="exact"/' \
    "'gridVoltageA' (input, continuous) must not have initial=\"exact\""
  check parameter-without-start 's/ start="0.0001"//' "'meanSampleTime' (parameter, initial exact) needs a start value"
  check output-not-listed '0,/<Unknown index="8"\/>/s///' "the output 'gateA1' is not listed among the Outputs"
  check unknown-index 's/<Unknown index="8"/<Unknown index="99"/' "Output entry index=\"99\" names no variable"
elif grep -q '<ScheduledExecution' "$description"; then
  check clocked-initial-unknown 's|</ModelStructure>|<InitialUnknown valueReference="7"/>&|' \
    "InitialUnknown lists the clocked variable 'gateA1'"
  check clock-not-there '0,/clocks="21"/s//clocks="23"/' "'gridVoltageA' has clocks=\"23\": 23 names no variable"
  check clock-without-priority 's/ priority="1"//' "input Clock 'slowRateClock' has no priority"
  check clocked-continuous '0,/variability="discrete" clocks/s//variability="continuous" clocks/' \
    "'gridVoltageA' is clocked but continuous"
  check clocks-without-event-mode \
    's|<ScheduledExecution|<CoSimulation modelIdentifier="Kestrune_fmi3" hasEventMode="false"/>&|' \
    "the FMU has clocks ('baseRateClock') but <CoSimulation> does not have hasEventMode=\"true\""
  check interval-zero 's/intervalDecimal="5e-06"/intervalDecimal="0"/' \
    "Clock 'baseRateClock' has intervalDecimal=\"0\"; it must be > 0"
  check output-clock 's/causality="input" intervalVariability="constant" intervalDecimal="0.0001"/causality="output" intervalVariability="constant" intervalDecimal="0.0001"/' \
    "output Clock 'slowRateClock' must be triggered and have no priority"
else
  check input-with-initial 's/causality="input" variability="continuous"/& initial="exact"/' ""
  check value-reference-twice 's/valueReference="20"/valueReference="19"/' \
    "value reference 19 is used by both 'time' and 'meanSampleTime'"
  check input-without-start '0,/ start="0"/s///' "'gridVoltageA' (input, initial exact) needs a start value"
  check calculated-with-start '0,/initial="calculated"/s//& start="0"/' \
    "'gateA1' (output, initial calculated) must not have a start value"
  check output-twice 's|<Output valueReference="8"/>|<Output valueReference="7"/>|' "Output lists 'gateA1' twice"
  check initial-unknown-missing '/<InitialUnknown valueReference="18"\/>/d' \
    "the output 'gateC4' (initial calculated) is not listed among the InitialUnknowns"
  check continuous-parameter 's/variability="tunable"/variability="continuous"/' \
    "'meanSampleTime': causality parameter with variability continuous is not an allowed combination"
  check second-independent 's/causality="parameter"/causality="independent"/' \
    "2 independent variables; an FMU has exactly one"
  check clock-that-is-no-clock '0,/initial="calculated"/s//& clocks="19"/' \
    "'gateA1' has clocks=\"19\": 19 names 'time', no Clock"
fi
exit $broken
