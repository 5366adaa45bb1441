#include "children/child_host.h"

#include "model/records.h"

namespace kestrune {

void modelTerminate() {
    static constexpr int TERMINATE_ORDER[CHILD_COUNT] = {2, 3, 0, 1, 4};
    ChildContext **table = modelRecord.childTable;
    if (table == nullptr) {
        return;
    }
    for (int index : TERMINATE_ORDER) {
        ChildContext *child = table[index];
        if (child != nullptr && child->methods.mdlTerminate != nullptr) {
            child->methods.mdlTerminate(child);
        }
    }
}

} // namespace kestrune
