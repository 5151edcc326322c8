// Every test program keeps the update history it writes (in-process, and from the programs it
// starts) in a state folder of its own: a run of the tests never adds to the person's history.

#include <cstdlib>

#include "support/temp_folder.h"

namespace {

class CTestStateHome {
 public:
  CTestStateHome() { ::setenv("XDG_STATE_HOME", m_folder.Path().c_str(), 1); }

 private:
  CTempFolder m_folder;
};

const CTestStateHome g_stateHome;

}  // namespace
