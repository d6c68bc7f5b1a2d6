// The measurement side's extension of the view controllers, whose load hooks their appearance.
#pragma once

namespace APMScreenClassName {

// Once per process: unless screen reporting is off, an older analytics library is present or an
// appearance implementation is missing (each told to the utility library's logger), every view
// controller's appearance and disappearance reach the shared screen-view reporter after the
// original implementation has run.
void load();

}  // namespace APMScreenClassName
