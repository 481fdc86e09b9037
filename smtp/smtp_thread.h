// One SMTP connection: the session engine on a client thread, with the
// settings snapshot taken at accept time.
#pragma once

#include "service/client_thread.h"
#include "smtp/smtp_session.h"

namespace heron {

class CSmtpThread : public CClientThread, public SmtpSessionHost {
 public:
  CSmtpThread(ServiceHost& service, const OspreySettings& snapshot, const std::string& peer);

  // SmtpSessionHost
  void Log(const std::string& text) override { LogText(text); }
  void Touch() override { CClientThread::Touch(); }
  AccountStore& accounts() override { return service().Accounts(); }
  bool HasMailbox(const std::string& name) override;
  void EnsureMailbox(const std::string& name) override;
  bool ReadLogTail(size_t limit, std::string& out) override;
  std::string NewMessageId() override;
  std::time_t Now() override;
  bool StoreMessage(const std::string& name,
                    const std::function<void(const MessageWriter&)>& produce) override;

 protected:
  void OnStart() override { session_.Start(sessions_before()); }
  void OnBytes(std::string_view bytes) override { session_.Receive(bytes); }
  std::string TakeOutput() override { return session_.TakeOutput(); }
  bool SessionOver() const override { return session_.ended(); }
  int TimeoutSeconds() const override { return session_.settings().timeout; }

 private:
  std::string mail_root_;
  CSmtpSocket session_;
};

}  // namespace heron
