// Converting and sending a frame allocates nothing once the sender is open:
// every allocation of the process is counted, liblo's included.
#include <gtest/gtest.h>

#include <vector>

#include "tests/app/vmc_hand_fixture.h"
#include "tests/support/allocation_counter.h"
#include "tools/bridge-host/vmc_pose.h"
#include "tools/bridge-host/vmc_sender.h"

namespace {

TEST(VmcFrame, StepAndSendAllocateNothing) {
  VmcState state = make_vmc_state({});
  VmcSender sender;
  std::string error;
  ASSERT_TRUE(open_vmc(sender, VmcAddress{"127.0.0.1", 9}, error)) << error;  // discard port
  wire::Face face;
  face.found = 1;
  face.rotation = {0, 0.1f, 0, 0.995f};
  const std::vector<wire::Hand> hands{vmc_test::open_right_hand({1}),
                                      vmc_test::mirrored_hand(vmc_test::open_right_hand({2}))};
  step_vmc(state, 0.0, &face, &hands);
  send_vmc(sender, state.pose, 0.0f);  // liblo's first look at each message's arguments
  long allocations = 0;
  for (int frame = 1; frame < 20; ++frame) {
    face.found = frame % 5 != 0;
    start_counting();
    step_vmc(state, frame / 30.0, &face, frame % 3 ? &hands : nullptr);
    send_vmc(sender, state.pose, frame / 30.0f);
    allocations += stop_counting();
  }
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(sender.sent, 20);
  close_vmc(sender);
}

}  // namespace
