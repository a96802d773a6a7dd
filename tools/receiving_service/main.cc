// The receiving service as a program: plays the data-upload and
// log-collection services on 127.0.0.1 until SIGINT or SIGTERM.

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tools/receiving_service/receiving_service.h"

namespace {

constexpr char kUsage[] =
    "usage: receiving_service --out DIR [--port N] [--tls CERT KEY]\n"
    "           [--upload ANSWER] [--upload-after N:ANSWER]\n"
    "           [--telemetry ANSWER] [--telemetry-after N:ANSWER]\n"
    "Plays the data-upload service (POST /apm/dataUpload) and the\n"
    "log-collection service (POST /common/h5log/log/batch?topic=plat_apm_sdk)\n"
    "on 127.0.0.1, checks and records every request in DIR.\n"
    "  --out DIR        output directory, created if missing\n"
    "  --port N         port to listen on; 0 (default) picks a free one\n"
    "  --tls CERT KEY   speak HTTPS (TLS 1.2 and 1.3) with the certificate\n"
    "                   chain CERT and the private key KEY, PEM files\n"
    "  --upload ANSWER, --telemetry ANSWER\n"
    "                   how the endpoint answers (default accept)\n"
    "  --upload-after N:ANSWER, --telemetry-after N:ANSWER\n"
    "                   from the endpoint's request N+1 on, answer ANSWER\n"
    "ANSWER: accept | reject:CODE:MESSAGE | status:N[:RETRY_AFTER] | html |\n"
    "        delay:MS | drop | body:TEXT | close | reset:BYTES | hang\n";

std::optional<tools::ReceivingService::Options> ParseCommandLine(int argc,
                                                                 char** argv) {
  tools::ReceivingService::Options options;
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc)
      return std::nullopt;
    std::string_view flag = argv[i];
    std::string_view value = argv[i + 1];
    if (flag == "--out") {
      options.out_dir = std::string(value);
    } else if (flag == "--port") {
      auto [end, error] = std::from_chars(
          value.data(), value.data() + value.size(), options.port);
      if (error != std::errc() || end != value.data() + value.size() ||
          options.port < 0 || options.port > 65535) {
        return std::nullopt;
      }
    } else if (flag == "--tls" && i + 2 < argc) {
      options.tls_certificate = std::string(value);
      options.tls_key = argv[i + 2];
      ++i;  // the one flag with two values
    } else if (flag == "--upload" || flag == "--telemetry") {
      std::optional<tools::Answer> answer = tools::ParseAnswer(value);
      if (!answer)
        return std::nullopt;
      (flag == "--upload" ? options.upload : options.telemetry).initial =
          *answer;
    } else if (flag == "--upload-after" || flag == "--telemetry-after") {
      std::optional<std::pair<int, tools::Answer>> change =
          tools::ParseAnswerSwitch(value);
      if (!change)
        return std::nullopt;
      (flag == "--upload-after" ? options.upload : options.telemetry)
          .switches[change->first] = change->second;
    } else {
      return std::nullopt;
    }
  }
  if (options.out_dir.empty())
    return std::nullopt;
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<tools::ReceivingService::Options> options =
      ParseCommandLine(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  options->on_request = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };

  // Blocked before the server's threads exist, so they inherit the mask and
  // the signals reach only sigwait below: stopping then runs as ordinary
  // code, not inside a signal handler.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  const bool https = !options->tls_certificate.empty();
  tools::ReceivingService service(std::move(*options));
  if (!service.Start())
    return 1;
  std::printf("listening on 127.0.0.1:%d%s\n", service.port(),
              https ? " (HTTPS)" : "");
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  service.Stop();
  return 0;
}
