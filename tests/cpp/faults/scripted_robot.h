// A robot in the test process that answers plan-information requests as a
// script says: good, duplicated, error, undecodable, wrong-id or failed
// replies, each reply at a time of the script's choosing, on a thread of its
// own so that late replies hold nothing up. Its good replies name the query
// they answer ("q7" for the 7th), so a test sees which call got which reply.
// It also streams marked samples (stress/marked_samples.h) in tarn-sim's
// dual layout and answers the connection sequence like a robot: a FakeRobot
// with replies scheduled on a clock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "msgs/codec.h"
#include "stress/marked_samples.h"
#include "support/fake_robot.h"
#include "zenoh.hxx"

namespace norvik::test::faults {

enum class Send { kGood, kDuplicate, kError, kGarbage, kWrongId, kFail };

// The replies to one query, sent `delay` after it arrived; the query ends
// right after them.
struct Script {
  std::vector<Send> replies;
  std::chrono::milliseconds delay{0};
};

class ScriptedRobot {
 public:
  using Scripter = std::function<Script(int query)>;  // query counts from 1

  explicit ScriptedRobot(std::string serial, size_t padding = 0)
      : padding_(padding), robot_(std::move(serial)) {
    sender_ = std::thread([this] { SendLoop(); });
    streamer_ = std::thread([this] { StreamLoop(); });
    // tarn-sim's dual layout, ALL included
    robot_.ActAsRobot({{0, 0, 15.0f}, {2, 0, 14.0f}, {3, 0, 7.0f}, {4, 7, 7.0f}, {5, 14, 1.0f}}, "v2.1");
    robot_.Defer(4, [this](zenoh::Query query) { OnPlanQuery(std::move(query)); });
  }

  ~ScriptedRobot() {
    robot_.Defer(4, [](zenoh::Query) {});  // queries from now on end unanswered
    stop_ = true;
    cv_.notify_all();
    sender_.join();
    streamer_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    while (!jobs_.empty()) jobs_.pop();  // their queries end unanswered
  }

  const std::string& serial() const { return robot_.serial(); }
  void Plan(Scripter scripter) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripter_ = std::move(scripter);
  }
  int PlanQueries() const { return plan_queries_.load(); }
  // Jobs whose replies have all gone out.
  int Answered() const { return answered_.load(); }

  // The plan-information strings of the reply to query `n`.
  std::vector<std::string> PlanStrings(int n, bool duplicate) const {
    std::string tag = "q" + std::to_string(n) + (duplicate ? "-dup" : "");
    return {tag, "node", std::string(padding_, 'p'), "1.5", "3", "plan-" + tag, "0.5", "0"};
  }

 private:
  struct Job {
    std::chrono::steady_clock::time_point due;
    int n;
    Script script;
    std::shared_ptr<zenoh::Query> query;
    bool operator<(const Job& other) const { return due > other.due; }  // earliest first
  };

  void OnPlanQuery(zenoh::Query query) {
    const int n = ++plan_queries_;
    std::lock_guard<std::mutex> lock(mutex_);
    Script script = scripter_ ? scripter_(n) : Script{{Send::kGood}, {}};
    jobs_.push(Job{std::chrono::steady_clock::now() + script.delay, n, std::move(script),
                   std::make_shared<zenoh::Query>(std::move(query))});
    cv_.notify_all();
  }

  void SendLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      if (jobs_.empty()) {
        cv_.wait(lock);
        continue;
      }
      // a copy: the queue may grow (and move its entries) while this waits
      const auto due = jobs_.top().due;
      if (std::chrono::steady_clock::now() < due) {
        cv_.wait_until(lock, due);
        continue;
      }
      Job job = jobs_.top();
      jobs_.pop();
      lock.unlock();
      for (Send s : job.script.replies) Reply(*job.query, job.n, s);
      job.query.reset();  // the query ends here
      ++answered_;
      lock.lock();
    }
  }

  void Reply(const zenoh::Query& query, int n, Send s) {
    using zenoh_msgs::tarn_msg::RPCReply;
    const zenoh::QueryView q = query.view();
    RPCReply r{4, true, {}, {}, PlanStrings(n, false), {}, {}};
    switch (s) {
      case Send::kGood:
        break;
      case Send::kDuplicate:
        q.reply(zenoh_msgs::tarn_msg::SerializeMessage(r));
        r.string_container = PlanStrings(n, true);
        break;
      case Send::kError:
        q.reply_err(zenoh::Bytes(std::vector<uint8_t>{'n', 'o'}));
        return;
      case Send::kGarbage: {
        std::vector<uint8_t> bytes(64 + padding_);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng_());
        q.reply(zenoh::Bytes(bytes));
        return;
      }
      case Send::kWrongId:
        r.request_id = 5;
        break;
      case Send::kFail:
        r.success = false;
        break;
    }
    q.reply(zenoh_msgs::tarn_msg::SerializeMessage(r));
  }

  void StreamLoop() {
    auto next = std::chrono::steady_clock::now();
    for (uint32_t k = 1; !stop_; ++k) {
      robot_.PublishBasic(stress::MarkedBasic(stress::Family::kRobot, k));
      robot_.PublishExtra(stress::MarkedExtra(stress::Family::kRobot, k));
      next += std::chrono::milliseconds(2);
      std::this_thread::sleep_until(next);
    }
  }

  size_t padding_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::priority_queue<Job> jobs_;
  Scripter scripter_;
  std::mt19937 rng_{7};
  std::atomic<bool> stop_{false};
  std::atomic<int> plan_queries_{0}, answered_{0};
  std::thread sender_, streamer_;
  FakeRobot robot_;  // last: it goes first, so no query reaches the members above once they are gone
};

}  // namespace norvik::test::faults
