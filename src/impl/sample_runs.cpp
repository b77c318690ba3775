// Runs of queued samples that cut to the same joint groups and DoF, taken
// under one lock of the queue and cut after it.
#include "impl/data_stream.h"
#include "impl/sample_columns.h"

namespace norvik::tarn_impl {

bool DataStream::SameShape(const QueuedBasic& a, const QueuedBasic& b) {
  // The cutting depends on nothing else of a sample: equal group lists and
  // sizes give equal groups and DoF (a rare false "differ" only ends a run early).
  const auto& x = a.data.joint_data;
  const auto& y = b.data.joint_data;
  return a.data.joint_groups == b.data.joint_groups && a.data.cartesian_data.size() == b.data.cartesian_data.size() &&
         x.q.size() == y.q.size() && x.theta.size() == y.theta.size() && x.dq.size() == y.dq.size() &&
         x.dtheta.size() == y.dtheta.size() && x.tau.size() == y.tau.size() && x.tau_dot.size() == y.tau_dot.size() &&
         x.tau_ext.size() == y.tau_ext.size() && x.tau_interact.size() == y.tau_interact.size() &&
         x.temperature.size() == y.temperature.size();
}

bool DataStream::SameShape(const QueuedExtra& a, const QueuedExtra& b) {
  return a.data.joint_groups == b.data.joint_groups && a.data.cartesian_data.size() == b.data.cartesian_data.size() &&
         a.data.q_d.size() == b.data.q_d.size() && a.data.dq_d.size() == b.data.dq_d.size() &&
         a.data.tau_d.size() == b.data.tau_d.size();
}

tarn::StatesBatch DataStream::TakeStates(size_t max_count, std::chrono::nanoseconds timeout, const GroupNames& groups,
                                         const StartIds& start_ids, const DoFs& dofs) {
  const auto queue = BasicQueue();
  if (!queue) return {};
  const auto run = queue->PopRun(max_count, timeout, [](const QueuedBasic& a, const QueuedBasic& b) {
    return SameShape(a, b);
  });
  // one sample cut at a time, laid out while it is still in the cache
  StatesColumns columns(run.size());
  for (const auto& item : run) columns.Add(ToStatesSample(item, groups, start_ids, dofs));
  return columns.Take();
}

tarn::ActionsBatch DataStream::TakeActions(size_t max_count, std::chrono::nanoseconds timeout,
                                           const GroupNames& groups, const StartIds& start_ids, const DoFs& dofs) {
  const auto queue = ExtraQueue();
  if (!queue) return {};
  const auto run = queue->PopRun(max_count, timeout, [](const QueuedExtra& a, const QueuedExtra& b) {
    return SameShape(a, b);
  });
  ActionsColumns columns(run.size());
  for (const auto& item : run) columns.Add(ToActionsSample(item, groups, start_ids, dofs));
  return columns.Take();
}

}  // namespace norvik::tarn_impl
