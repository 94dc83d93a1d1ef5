/*
 * A plug-in for the host's tests. What it says about itself comes from compile definitions
 * (KXT_NAME, KXT_ENGINE_VERSION, KXT_REFUSED, KXT_NO_EVENT_ENTRY); what it answers and sends is
 * steered by the test through exports of its own, and every event it receives is written to a
 * log the test reads back. The test loads the same file to reach those exports, so it shares the
 * plug-in's state.
 */
#include <stdio.h>
#include <string.h>

#include "kxplugin.h"

#ifndef KXT_ENGINE_VERSION
#define KXT_ENGINE_VERSION KX_ENGINE_VERSION
#endif
#ifndef KXT_REFUSED
#define KXT_REFUSED 0
#endif

#define KXT_ANSWERS 32

static char eventLog[16384];
static int32_t number;
static char configFile[KX_NAME_SIZE];
static KxMessageCodeEntry messageCode;
static KxCommandEntry command;
static KxNamedCommandEntry namedCommand;
static struct {
  int32_t number;
  kx_ptr answer;
} answers[KXT_ANSWERS];
static int answerCount;
static int calcAnswerSet; /* EV_CALCFUNCTION answers what TestAnswer gave, not its own text */
static char packageFolder[KX_NAME_SIZE]; /* written once for EV_GETPACKAGE when not empty */

static void Append(const char* text) {
  size_t used = strlen(eventLog);
  size_t room = sizeof(eventLog) - used - 1;
  strncat(eventLog + used, text, room);
}

static kx_ptr AnswerFor(int32_t event) {
  int index;
  for (index = 0; index < answerCount; ++index) {
    if (answers[index].number == event) return answers[index].answer;
  }
  return 0;
}

/* "name(arg,arg)" in a block of the engine's allocator. */
static kx_ptr CalcFunction(const KxCalcFunctionBlock* block) {
  char text[512];
  const char* arg = (const char*)block->args;
  kx_ptr result;
  snprintf(text, sizeof(text), "%s(", (const char*)block->name);
  while (arg && *arg) {
    if (text[strlen(text) - 1] != '(') strncat(text, ",", sizeof(text) - strlen(text) - 1);
    strncat(text, arg, sizeof(text) - strlen(text) - 1);
    arg += strlen(arg) + 1;
  }
  strncat(text, ")", sizeof(text) - strlen(text) - 1);
  result = command(number, CM_ALLOCMEM, (kx_ptr)(strlen(text) + 1), 0, 0);
  if (result) memcpy((void*)result, text, strlen(text) + 1);
  return result;
}

/* Which thread the last event came on, as the test's probe tells. */
static int (*threadProbe)(void);
static int lastEventOnMarkedThread = -1;

static kx_ptr KXAPI EventEntry(int32_t event, const char* name, kx_ptr first, kx_ptr second) {
  char line[600];
  lastEventOnMarkedThread = threadProbe ? threadProbe() : -1;
  if (event == EV_SETSTARTUPINFO) {
    const KxStartupInfo* info = (const KxStartupInfo*)first;
    number = info->number;
    memcpy(configFile, info->configFile, sizeof(configFile));
    messageCode = (KxMessageCodeEntry)info->messageCodeEntry;
    command = (KxCommandEntry)info->commandEntry;
    namedCommand = (KxNamedCommandEntry)info->namedCommandEntry;
    snprintf(line, sizeof(line), "%s#%d ", name, (int)number);
  } else if (event == EV_LANGUAGECHANGED || event == EV_FEATURESTATECHANGED ||
             event == EV_INSTALLTYPECHANGED) {
    snprintf(line, sizeof(line), "%s(%.300s,%d) ", name, first ? (const char*)first : "",
             (int)second);
  } else if (event == EV_GETPACKAGE) {
    snprintf(line, sizeof(line), "%s(%.250s,%.250s) ", name, (const char*)first,
             (const char*)second);
  } else if (event >= KX_FIRST_NAMED_MESSAGE) {
    snprintf(line, sizeof(line), "%s=%d(%d) ", name, (int)event, (int)first);
  } else {
    snprintf(line, sizeof(line), "%s ", name);
  }
  Append(line);
  if (event == EV_GETPACKAGE && packageFolder[0]) {
    memcpy((char*)second, packageFolder, KX_NAME_SIZE - 1);
    packageFolder[0] = 0;
    return 1;
  }
  if (event == EV_CALCFUNCTION && !calcAnswerSet) {
    return CalcFunction((const KxCalcFunctionBlock*)first);
  }
  return AnswerFor(event);
}

KX_EXPORT void KXAPI GetPluginInfo(KxPluginInfo* info) {
  const unsigned char* bytes = (const unsigned char*)info;
  size_t index;
  int clean = info->structVersion == KX_STRUCT_VERSION;
  for (index = sizeof(info->structVersion); index < sizeof(*info); ++index) {
    if (bytes[index] != 0) clean = 0;
  }
  info->engineVersion = KXT_ENGINE_VERSION;
  /* A record that was not handed over zero-filled with its version makes a plug-in that fits
     no entry. */
  strncpy(info->name, clean ? KXT_NAME : "unclean record", sizeof(info->name) - 1);
  info->refused = KXT_REFUSED;
#ifndef KXT_NO_EVENT_ENTRY
  info->eventEntry = (kx_ptr)&EventEntry;
#else
  (void)&EventEntry;
#endif
}

/* The test's own exports. */

KX_EXPORT const char* TestLog(void) { return eventLog; }

KX_EXPORT void TestReset(void) {
  eventLog[0] = 0;
  answerCount = 0;
  calcAnswerSet = 0;
  packageFolder[0] = 0;
}

KX_EXPORT void TestAnswer(int32_t event, kx_ptr answer) {
  if (event == EV_CALCFUNCTION) calcAnswerSet = 1;
  if (answerCount < KXT_ANSWERS) {
    answers[answerCount].number = event;
    answers[answerCount].answer = answer;
    ++answerCount;
  }
}

KX_EXPORT void TestSetThreadProbe(int (*probe)(void)) { threadProbe = probe; }

KX_EXPORT int TestLastEventOnMarkedThread(void) { return lastEventOnMarkedThread; }

KX_EXPORT void TestPackageFolder(const char* folder) {
  strncpy(packageFolder, folder, sizeof(packageFolder) - 1);
}

KX_EXPORT int32_t TestNumber(void) { return number; }

KX_EXPORT const char* TestConfigFile(void) { return configFile; }

KX_EXPORT kx_ptr TestCommand(int32_t code, kx_ptr first, kx_ptr second, int32_t toAll) {
  return command(number, code, first, second, toAll);
}

KX_EXPORT kx_ptr TestNamedCommand(const char* name, kx_ptr first, kx_ptr second, int32_t toAll) {
  return namedCommand(number, name, first, second, toAll);
}

KX_EXPORT int32_t TestMessageCode(const char* name) { return messageCode(number, name); }
