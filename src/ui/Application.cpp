#include "ui/Application.h"

void Delay(TApplication& app, uint32_t ms) {
  app.ProcessMessages();
  app.Sleep(ms);
}
