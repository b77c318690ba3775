// Registration of the norviktarn classes; module.cpp calls them in this order,
// since later declarations name the types of earlier ones in their signatures.
#pragma once

#include <pybind11/pybind11.h>
// Every unit must see the same container casters (maps, vectors, arrays,
// pairs, variants), or the type_caster specialisations differ between them.
#include <pybind11/stl.h>

#include <algorithm>

namespace norvik::tarn::python {

// Pickle protocols 0 and 1 go through copyreg._reduce_ex, which calls the
// pybind11 base type directly; its constructor throws through C and aborts
// the interpreter. Every protocol is routed through object.__reduce_ex__ at
// protocol 2 instead: JointGroup still pickles as its integer value (its
// __getstate__/__setstate__), the other classes still refuse with TypeError.
template <typename Class>
void route_old_pickle_protocols(Class& cls) {
  cls.def(
      "__reduce_ex__",
      [](const pybind11::object& self, int protocol) {
        const auto object_reduce_ex = pybind11::module_::import("builtins").attr("object").attr("__reduce_ex__");
        return object_reduce_ex(self, std::max(protocol, 2));
      },
      pybind11::arg("protocol"));
}

void bind_joint_group(pybind11::module_& m);
void bind_records(pybind11::module_& m);
void bind_client(pybind11::module_& m);
// After bind_client: stream health and the sample queues, additions to Client.
void bind_streams(pybind11::module_& m);
// The session's Zenoh configuration and the robots on the network.
void bind_network(pybind11::module_& m);
// The serial number as keys use it, state-code names, and the latest sample's states.
void bind_names(pybind11::module_& m);
// Client.close() and the with-statement.
void bind_client_closing(pybind11::module_& m);
// The library's log lines: standard output, Python's logging, or nowhere.
void bind_logging(pybind11::module_& m);
// Last: runs of queued samples as NumPy columns, additions to Client.
void bind_batches(pybind11::module_& m);

}  // namespace norvik::tarn::python
