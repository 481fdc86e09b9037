// The one export of libkestrel.so.
#include "applet/kestrel_app.h"

extern "C" __attribute__((visibility("default"))) int32_t CPlApplet(void*, uint32_t msg, intptr_t,
                                                                    intptr_t lparam2) {
  return heron::kestrel::AppletEntry(msg, lparam2);
}
