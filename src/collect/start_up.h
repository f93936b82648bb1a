// Collection: what the program does when it starts and before it opens the real-time view,
// the same for the window, kordel-cli and the collection service.
//
// May use: link/, files/.
#pragma once

#include "link/pbx_link.h"

namespace kordel {

struct StartUp {
  bool configFailed = false;  // "Kordel.cfg" could neither be read nor made
  bool firstRun = false;      // it had to be made: the user has to choose the port first
};

// Loads "Kordel.cfg" (the link read "KordelOut.cfg" when it was built). On a first run the old
// "KordelOut.cfg" is deleted from the start directory, so that a start-up mode it holds cannot
// start a read before the user has chosen the port; the names it held stay for this run.
StartUp startUp(PbxLink& link);

// The real-time line states belong to the QTR family: true when the model identified last
// (empty before any identification) contains "QTR".
bool realTimeSupported(const PbxLink& link);

}  // namespace kordel
