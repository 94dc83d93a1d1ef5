#include "engine/Stubs.h"

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrUtils.h"

std::string& PreviousLogPath() {
  static std::string path;
  return path;
}
