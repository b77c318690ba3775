#include "norvik/tarn/joint_group.h"

#include "bindings.h"

namespace py = pybind11;

namespace norvik::tarn::python {

// Strict enumeration: no py::arithmetic(), so members neither order nor equal
// plain integers and cannot be passed where an int is expected by accident.
void bind_joint_group(py::module_& m) {
  py::enum_<JointGroup> cls(m, "JointGroup");
  cls.value("UNKNOWN", JointGroup::UNKNOWN)
      .value("ALL", JointGroup::ALL)
      .value("ARMS", JointGroup::ARMS)
      .value("ARM_1", JointGroup::ARM_1)
      .value("ARM_2", JointGroup::ARM_2)
      .value("EXT_AXIS", JointGroup::EXT_AXIS)
      .export_values();
  route_old_pickle_protocols(cls);
}

}  // namespace norvik::tarn::python
