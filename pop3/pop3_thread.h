// One POP3 connection: the session engine on a client thread, serving the
// mailbox folders under the MailFolder taken at accept time.
#pragma once

#include "pop3/pop3_session.h"
#include "service/client_thread.h"

namespace heron {

class CPop3Thread : public CClientThread, public Pop3SessionHost {
 public:
  CPop3Thread(ServiceHost& service, CPop3Socket::Config config, const std::string& mail_folder,
              const std::string& peer);

  // Pop3SessionHost
  void Log(const std::string& text) override { LogText(text); }
  void Touch() override { CClientThread::Touch(); }
  bool CheckPassword(const std::string& user, const std::string& password) override;
  LoginGuard* logins() override { return &service().Logins(); }
  std::vector<MailboxFile> ListMailbox(const std::string& user) override;
  bool ReadMessage(const std::string& path, std::string& content) override;
  bool DeleteMessage(const std::string& path) override;
  size_t ReceiverBytes(const std::string& path) override;

 protected:
  void OnStart() override { session_.Start(sessions_before(), sessions_from_address()); }
  void OnBytes(std::string_view bytes) override { session_.Receive(bytes); }
  std::string TakeOutput() override { return session_.TakeOutput(); }
  bool SessionOver() const override { return session_.ended(); }
  // The service's current value, not a copy: a reload applies at once.
  int TimeoutSeconds() const override { return service().CurrentTimeout(); }
  bool TakeTlsRequest() override { return session_.TakeTlsRequest(); }
  void OnTlsStarted() override { session_.TlsStarted(); }

 private:
  std::string mail_root_;
  CPop3Socket session_;
};

}  // namespace heron
