// The ping engine on real sockets, inside two network namespaces joined by a
// veth pair (10.253.2.0/24). The test program runs itself again inside the
// device namespace with ORN_NET_CASE naming what to check there; the outer
// test builds and removes the namespaces. Skipped where namespaces cannot be
// made (not root, no iproute2).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "net/network_stages.h"
#include "net/ping.h"
#include "support/tool_runner.h"

namespace pn = platform::net;

namespace {

constexpr const char* kDevAddr = "10.253.2.5";
constexpr const char* kPeerAddr = "10.253.2.1";
constexpr const char* kSilentAddr = "10.253.2.99";
constexpr const char* kLoopPeerAddr = "10.253.2.22";

test::RunResult Shell(const std::string& command) {
  return test::Run("/bin/sh", {"-c", command});
}

// Two namespaces and the veth pair between them, removed on destruction.
class NamespacePair {
 public:
  NamespacePair() {
    const std::string tag = "ornt" + std::to_string(std::rand() % 100000) + "x" +
                            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 100000);
    dev_ = tag + "-dev";
    peer_ = tag + "-peer";
    if (Shell("ip netns add " + dev_ + " && ip netns add " + peer_).exit_code != 0) return;
    const std::string setup =
        "ip link add vd netns " + dev_ + " type veth peer name vp netns " + peer_ + " && " +
        "ip netns exec " + dev_ + " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 && " +
        "ip netns exec " + peer_ + " sysctl -qw net.ipv6.conf.all.disable_ipv6=1 && " +
        "ip -n " + dev_ + " link set dev vd alias 'ORN5300 USB 3.0 to Gigabit Ethernet Adapter' && " +
        "ip -n " + dev_ + " addr add " + kDevAddr + "/24 dev vd && " +
        "ip -n " + peer_ + " addr add " + kPeerAddr + "/24 dev vp && " +
        "ip -n " + dev_ + " link set vd up && ip -n " + peer_ + " link set vp up && " +
        "for i in $(seq 50); do ip -n " + dev_ + " link show vd | grep -q LOWER_UP && exit 0; " +
        "sleep 0.1; done; exit 1";
    ready_ = Shell(setup).exit_code == 0;
  }
  ~NamespacePair() {
    Shell("ip netns del " + dev_ + " 2>/dev/null; ip netns del " + peer_ + " 2>/dev/null");
  }
  NamespacePair(const NamespacePair&) = delete;
  NamespacePair& operator=(const NamespacePair&) = delete;

  bool ready() const { return ready_; }

  // Runs one inner case of this program inside the device namespace.
  test::RunResult RunInside(const std::string& name) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    return test::Run("/bin/sh",
                     {"-c", "ip netns exec " + dev_ + " \"$0\" --gtest_filter=EngineInner.Case",
                      self},
                     {{"ORN_NET_CASE", name}});
  }
  bool PlugIn() {
    return Shell("ip netns exec " + peer_ + " tc qdisc add dev vp clsact && ip netns exec " +
                 peer_ + " tc filter add dev vp ingress protocol all prio 1 u32 match u32 0 0 " +
                 "action mirred egress redirect dev vp")
               .exit_code == 0;
  }
  std::string Neighbours() { return Shell("ip -n " + dev_ + " neigh show").out; }

 private:
  std::string dev_, peer_;
  bool ready_ = false;
};

// The checks made inside the device namespace.
TEST(EngineInner, Case) {
  const char* which = std::getenv("ORN_NET_CASE");
  if (which == nullptr || *which == '\0') GTEST_SKIP() << "runs only inside the namespace test";
  const std::string name = which;
  ASSERT_EQ(pn::StartSockets(), 0u);
  CPing ping;
  using Clock = std::chrono::steady_clock;
  if (name == "ping") {
    EchoResult result;
    ASSERT_TRUE(ping.PingUsingWinsock(kPeerAddr, result, pn::ProcessId()));
    uint32_t peer = 0;
    ASSERT_TRUE(pn::ParseDottedQuad(kPeerAddr, peer));
    EXPECT_EQ(result.replying_address, peer);
    EXPECT_LT(result.round_trip_ms, 1000u);
  } else if (name == "silent") {
    const auto start = Clock::now();
    EchoResult result;
    EXPECT_FALSE(ping.PingUsingWinsock(kSilentAddr, result, pn::ProcessId()));
    EXPECT_EQ(pn::LastError(), pn::kErrorTimedOut);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(ms, 950);
    EXPECT_LT(ms, 4000);
  } else if (name == "adapter") {
    std::array<char, 100> text{};
    uint32_t index = 0;
    ASSERT_TRUE(FindAdapterAddress(text, index));
    EXPECT_STREQ(text.data(), kDevAddr);
    EXPECT_NE(index, 0u);
  } else if (name == "plugged" || name == "unplugged") {
    std::array<char, 100> text{};
    uint32_t index = 0;
    ASSERT_TRUE(FindAdapterAddress(text, index));
    const bool ok = ping.loopbackTest(index, text.data());
    EXPECT_EQ(ok, name == "plugged");
    if (!ok) {
      EXPECT_EQ(pn::LastError(), pn::kErrorTimedOut);
    }
    EXPECT_FALSE(ping.loopbackTest(index, "10.253.2"));  // no peer for a bad own address
  } else {
    FAIL() << "unknown case " << name;
  }
  pn::StopSockets();
}

class EngineInNamespaces : public testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v ip >/dev/null && [ \"$(id -u)\" -eq 0 ]").exit_code != 0) {
      GTEST_SKIP() << "network namespaces need root and iproute2";
    }
    pair_ = std::make_unique<NamespacePair>();
    if (!pair_->ready()) GTEST_SKIP() << "cannot build network namespaces with a veth pair";
  }
  void Expect(const std::string& name) {
    const test::RunResult r = pair_->RunInside(name);
    EXPECT_EQ(r.exit_code, 0) << name << ":\n" << r.out << r.err;
    EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << name << ":\n" << r.out;
  }
  std::unique_ptr<NamespacePair> pair_;
};

TEST_F(EngineInNamespaces, EchoReplyIsTimedAndSilenceTimesOutAfterOneSecond) {
  Expect("adapter");
  Expect("ping");
  Expect("silent");
}

TEST_F(EngineInNamespaces, LoopbackNeedsThePlugAndRemovesItsArpEntry) {
  Expect("unplugged");
  ASSERT_TRUE(pair_->PlugIn()) << "tc clsact/mirred not available";
  Expect("plugged");
  EXPECT_EQ(pair_->Neighbours().find(kLoopPeerAddr), std::string::npos) << pair_->Neighbours();
}

}  // namespace
