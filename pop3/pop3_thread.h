// One POP3 connection: the session engine on a client thread.
#pragma once

#include "pop3/pop3_session.h"
#include "service/client_thread.h"

namespace heron {

class CPop3Thread : public CClientThread, public Pop3SessionHost {
 public:
  CPop3Thread(COsprey& service, CPop3Socket::Config config, const std::string& peer);

  // Pop3SessionHost
  void Log(const std::string& text) override { LogText(text); }
  void Touch() override { CClientThread::Touch(); }
  bool CheckPassword(const std::string& user, const std::string& password) override;

 protected:
  void OnStart() override;
  void OnBytes(std::string_view bytes) override { session_.Receive(bytes); }
  std::string TakeOutput() override { return session_.TakeOutput(); }
  bool SessionOver() const override { return session_.ended(); }
  int TimeoutSeconds() const override;

 private:
  CPop3Socket session_;
};

}  // namespace heron
