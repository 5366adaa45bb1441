/* fmi2Instantiate called from C with the unit's type as a plain int, as a
 * master that binds the C interface passes it: any int value may arrive. */
#include "fmu/fmi2.h"

fmi2Component instantiateWithIntType(fmi2String instanceName, int fmuType, fmi2String fmuGUID,
                                     fmi2String fmuResourceLocation, const fmi2CallbackFunctions *functions,
                                     fmi2Boolean visible, fmi2Boolean loggingOn);

fmi2Component instantiateWithIntType(fmi2String instanceName, int fmuType, fmi2String fmuGUID,
                                     fmi2String fmuResourceLocation, const fmi2CallbackFunctions *functions,
                                     fmi2Boolean visible, fmi2Boolean loggingOn) {
    return fmi2Instantiate(instanceName, (fmi2Type)fmuType, fmuGUID, fmuResourceLocation, functions, visible,
                           loggingOn);
}
