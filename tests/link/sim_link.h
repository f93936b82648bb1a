// A PbxLink connected to the PBX simulator over a real pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "link/pbx_link.h"
#include "pbxsim.h"
#include "support/temp_dir.h"

namespace kordel::test {

struct SimLink {
  explicit SimLink(pbxsim::Scenario scenario) : sim(std::move(scenario)), link(dir.str()) {
    path = sim.start();
    EXPECT_EQ(link.openPort(path), kOk);
  }

  TempDir dir;  // the link's start directory, so no configuration file of the tree is read
  pbxsim::Simulator sim;
  PbxLink link;
  std::string path;
};

}  // namespace kordel::test
