#include "tools/receiving_service/receiving_service.h"

#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/socket.h>
#include <unistd.h>
#include <yyjson.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <numeric>

#include "fmt/format.h"

namespace tools {
namespace {

constexpr char kHost[] = "127.0.0.1";
constexpr char kUploadPath[] = "/apm/dataUpload";
constexpr char kTelemetryPath[] = "/common/h5log/log/batch";
constexpr char kTelemetryTopic[] = "plat_apm_sdk";
constexpr std::string_view kSigningKey = "velmor2017tq9z";
constexpr std::string_view kTelemetryKey = "Wk5$tr9Lq2Zv!Hn7Pc3Xm8&Rb4Jd6#Ys";
// What a dropped answer announces and never sends.
constexpr size_t kDroppedBodyLength = 64;

struct DocFree {
  void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
};
using ScopedDoc = std::unique_ptr<yyjson_doc, DocFree>;

struct MutDocFree {
  void operator()(yyjson_mut_doc* doc) const { yyjson_mut_doc_free(doc); }
};
using ScopedMutDoc = std::unique_ptr<yyjson_mut_doc, MutDocFree>;

struct CharsFree {
  void operator()(char* text) const { std::free(text); }
};
using ScopedChars = std::unique_ptr<char, CharsFree>;

// Strict reading: the whole text must be one JSON value.
ScopedDoc ReadJson(std::string_view text) {
  return ScopedDoc(yyjson_read(text.data(), text.size(), 0));
}

std::string WriteCompact(yyjson_val* value) {
  size_t length = 0;
  ScopedChars text(yyjson_val_write(value, 0, &length));
  return text ? std::string(text.get(), length) : std::string();
}

std::string StringMember(yyjson_val* object, const char* key) {
  yyjson_val* value = yyjson_obj_get(object, key);
  return yyjson_is_str(value)
             ? std::string(yyjson_get_str(value), yyjson_get_len(value))
             : std::string();
}

// Builds one compact JSON object; yyjson escapes what needs escaping.
class ObjectWriter final {
 public:
  ObjectWriter()
      : doc_(yyjson_mut_doc_new(nullptr)), root_(yyjson_mut_obj(doc_.get())) {
    yyjson_mut_doc_set_root(doc_.get(), root_);
  }

  ObjectWriter& AddString(const char* key, std::string_view value) {
    yyjson_mut_obj_add_strncpy(doc_.get(), root_, key, value.data(),
                               value.size());
    return *this;
  }

  ObjectWriter& AddInt(const char* key, int64_t value) {
    yyjson_mut_obj_add_int(doc_.get(), root_, key, value);
    return *this;
  }

  std::string Text() const {
    size_t length = 0;
    ScopedChars text(yyjson_mut_write(doc_.get(), 0, &length));
    return text ? std::string(text.get(), length) : std::string();
  }

 private:
  ScopedMutDoc doc_;
  yyjson_mut_val* root_;
};

std::string Hex(const unsigned char* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0f];
  }
  return hex;
}

// Empty when OpenSSL fails, which no header can then match.
std::string DigestHex(const EVP_MD* type, std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, type, nullptr) != 1) {
    std::fprintf(stderr, "receiving_service: EVP_Digest failed\n");
    return std::string();
  }
  return Hex(digest, size);
}

std::string HmacSha1Hex(std::string_view key, std::string_view message) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char*>(message.data()),
            message.size(), mac, &size)) {
    std::fprintf(stderr, "receiving_service: HMAC failed\n");
    return std::string();
  }
  return Hex(mac, size);
}

bool IsBase64Digit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Standard alphabet with '=' padding and nothing else. EVP_DecodeBlock
// alone would skip surrounding white space and count the padding as zero
// bytes, so the form is checked here and the padding taken off.
std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.size() % 4 != 0 ||
      text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    return std::nullopt;
  }
  size_t padding = 0;
  while (padding < 2 && padding < text.size() &&
         text[text.size() - 1 - padding] == '=') {
    ++padding;
  }
  for (size_t i = 0; i < text.size() - padding; ++i) {
    if (!IsBase64Digit(text[i]))
      return std::nullopt;
  }
  std::string bytes(text.size() / 4 * 3, '\0');
  int size =
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                      reinterpret_cast<const unsigned char*>(text.data()),
                      static_cast<int>(text.size()));
  if (size < 0 || static_cast<size_t>(size) < padding)
    return std::nullopt;
  bytes.resize(static_cast<size_t>(size) - padding);
  return bytes;
}

bool IsLowerHex(std::string_view text, size_t length) {
  return text.size() == length &&
         text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

bool IsDecimalSeconds(std::string_view text) {
  if (!text.empty() && text.front() == '-')
    text.remove_prefix(1);
  return !text.empty() && text.size() <= 19 &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

// msgId is the client's text; only a plain one may name a file.
bool IsPlainFileName(std::string_view text) {
  return !text.empty() && text.size() <= 64 &&
         text.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz") ==
             std::string_view::npos;
}

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

// The one header `name`, spelled exactly so: the service reads the names as
// the client sent them. Returns an empty reason and sets value, or says why
// there is no such header.
std::string FindHeader(const httplib::Headers& headers,
                       const std::string& name,
                       std::string* value) {
  // The multimap compares names without case, so the range holds every
  // spelling of the name.
  auto [first, last] = headers.equal_range(name);
  auto count = std::distance(first, last);
  if (count == 0)
    return "missing header " + name;
  if (count > 1)
    return fmt::format("header {} sent {} times", name, count);
  if (first->first != name)
    return fmt::format("header {} spelled {}", name, first->first);
  *value = first->second;
  return std::string();
}

// The checks a data-upload request's headers must pass; empty when they do.
std::string CheckSignature(const httplib::Headers& headers,
                           std::string_view body) {
  std::string content_type, algorithm, md5, date, authorization;
  for (const auto& [name, value] :
       {std::pair{"CONTENT-TYPE", &content_type},
        std::pair{"cms-signature", &algorithm}, std::pair{"CONTENT-MD5", &md5},
        std::pair{"DATE", &date}, std::pair{"Authorization", &authorization}}) {
    std::string reason = FindHeader(headers, name, value);
    if (!reason.empty())
      return reason;
  }
  if (content_type != "application/json")
    return "CONTENT-TYPE is not application/json";
  if (algorithm != "hmac-sha1")
    return "cms-signature is not hmac-sha1";
  if (!IsLowerHex(md5, 32))
    return "CONTENT-MD5 is not 32 lowercase hex digits";
  if (md5 != DigestHex(EVP_md5(), body))
    return "CONTENT-MD5 is not the MD5 of the body";
  if (!IsDecimalSeconds(date))
    return "DATE is not decimal seconds";
  if (!IsLowerHex(authorization, 40))
    return "Authorization is not 40 lowercase hex digits";
  std::string signed_text =
      fmt::format("POST\n{}\napplication/json\n{}\nhmac-sha1", md5, date);
  if (authorization != HmacSha1Hex(kSigningKey, signed_text))
    return "Authorization is not the signature of CONTENT-MD5 and DATE";
  return std::string();
}

// Finds the one event of an upload body, which must be "[" + event + "]".
std::string ParseUploadBody(std::string_view body,
                            ScopedDoc* doc,
                            yyjson_val** event) {
  *doc = ReadJson(body);
  yyjson_val* root = yyjson_doc_get_root(doc->get());
  if (!root)
    return "body is not JSON";
  if (!yyjson_is_arr(root) || body.front() != '[' || body.back() != ']')
    return "body is not a JSON array from its first byte to its last";
  if (yyjson_arr_size(root) != 1)
    return fmt::format("body holds {} elements, not one event",
                       yyjson_arr_size(root));
  if (!yyjson_is_obj(yyjson_arr_get_first(root)))
    return "body's element is not an object";
  *event = yyjson_arr_get_first(root);
  return std::string();
}

// Checks a telemetry request and unpacks its events: Base64, then ARC4
// with the telemetry key, then {"data":[event, ...]}.
std::string InspectTelemetry(const httplib::Request& request,
                             const std::string& body,
                             std::vector<std::string>* events,
                             std::vector<std::string>* names) {
  if (request.get_param_value_count("topic") != 1 ||
      request.get_param_value("topic") != kTelemetryTopic) {
    return fmt::format("query is not topic={}", kTelemetryTopic);
  }
  std::string content_type, date;
  std::string reason =
      FindHeader(request.headers, "CONTENT-TYPE", &content_type);
  if (reason.empty())
    reason = FindHeader(request.headers, "DATE", &date);
  if (!reason.empty())
    return reason;
  if (content_type != "application/json")
    return "CONTENT-TYPE is not application/json";
  if (!IsDecimalSeconds(date))
    return "DATE is not decimal seconds";

  ScopedDoc outer = ReadJson(body);
  yyjson_val* wrapper = yyjson_doc_get_root(outer.get());
  yyjson_val* data = yyjson_obj_get(wrapper, "data");
  if (yyjson_obj_size(wrapper) != 1 || !yyjson_is_str(data))
    return "body is not {\"data\":\"<Base64>\"}";
  std::optional<std::string> scrambled = DecodeBase64(
      std::string_view(yyjson_get_str(data), yyjson_get_len(data)));
  if (!scrambled)
    return "data is not Base64";

  ScopedDoc inner = ReadJson(Arc4(*scrambled, kTelemetryKey));
  wrapper = yyjson_doc_get_root(inner.get());
  yyjson_val* list = yyjson_obj_get(wrapper, "data");
  if (yyjson_obj_size(wrapper) != 1 || !yyjson_is_arr(list))
    return "unscrambled data is not {\"data\":[...]}";
  size_t index, count;
  yyjson_val* event;
  yyjson_arr_foreach(list, index, count, event) {
    if (!yyjson_is_obj(event))
      return fmt::format("event {} is not an object", index);
  }
  yyjson_arr_foreach(list, index, count, event) {
    events->push_back(WriteCompact(event));
    names->push_back(StringMember(event, "event"));
  }
  return std::string();
}

bool WriteFile(const std::filesystem::path& path,
               std::string_view bytes,
               std::ios::openmode mode) {
  std::ofstream file(path, std::ios::binary | mode);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    std::fprintf(stderr, "receiving_service: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

bool AppendLine(const std::filesystem::path& path, const std::string& line) {
  return WriteFile(path, line + "\n", std::ios::app);
}

std::string UploadRecordLine(const ReceivedUpload& upload) {
  return ObjectWriter()
      .AddString("verdict", upload.verdict)
      .AddString("msgId", upload.msg_id)
      .AddString("eventName", upload.event_name)
      .AddInt("eventId", upload.event_id)
      .AddString("eventTime", upload.event_time)
      .AddString("ReportId", upload.report_id)
      .AddString("OccurTimestamp", upload.occur_timestamp)
      .AddString("LocalTimestamp", upload.local_timestamp)
      .AddInt("dumpSize", static_cast<int64_t>(upload.dump_size))
      .AddString("dumpSha256", upload.dump_sha256)
      .AddString("stored", upload.stored)
      .AddString("answer", upload.answer)
      .Text();
}

// The port of an IPv4 socket address, or -1.
int Port(const sockaddr_storage& address) {
  return address.ss_family == AF_INET
             ? ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port)
             : -1;
}

// The socket of request's connection. httplib does not hand it to handlers,
// so it is found among the process's descriptors by its two ports; -1 when
// none matches.
int FindConnectionSocket(const httplib::Request& request) {
  std::unique_ptr<DIR, int (*)(DIR*)> fds(opendir("/proc/self/fd"), closedir);
  if (!fds) {
    std::fprintf(stderr, "receiving_service: cannot list /proc/self/fd\n");
    return -1;
  }
  while (const dirent* entry = readdir(fds.get())) {
    std::optional<int> fd = ParseInt(entry->d_name);
    if (!fd)
      continue;
    sockaddr_storage local{}, peer{};
    socklen_t local_size = sizeof(local), peer_size = sizeof(peer);
    if (getsockname(*fd, reinterpret_cast<sockaddr*>(&local), &local_size) ==
            0 &&
        getpeername(*fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) == 0 &&
        Port(local) == request.local_port &&
        Port(peer) == request.remote_port) {
      return *fd;
    }
  }
  std::fprintf(stderr, "receiving_service: no socket for port %d\n",
               request.remote_port);
  return -1;
}

// Ends request's connection without an answer: the client reads the end of
// the stream. With reset, the close that follows sends a reset instead,
// which also reaches a client that is still sending. httplib's attempt to
// answer then fails, and it closes the socket.
void EndConnection(const httplib::Request& request, bool reset) {
  const int socket = FindConnectionSocket(request);
  if (socket < 0)
    return;
  if (reset) {
    const linger abortive{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
  }
  shutdown(socket, SHUT_RDWR);
}

}  // namespace

std::optional<Answer> ParseAnswer(std::string_view text) {
  Answer answer;
  answer.text = std::string(text);
  if (text == "accept") {
    answer.kind = Answer::Kind::kAccept;
  } else if (text == "html") {
    answer.kind = Answer::Kind::kHtml;
  } else if (text == "drop") {
    answer.kind = Answer::Kind::kDrop;
  } else if (text == "close") {
    answer.kind = Answer::Kind::kClose;
  } else if (text == "hang") {
    answer.kind = Answer::Kind::kHang;
  } else if (text.starts_with("body:")) {
    answer.kind = Answer::Kind::kBody;
    answer.message = std::string(text.substr(5));
  } else if (text.starts_with("reset:")) {
    std::optional<int> bytes = ParseInt(text.substr(6));
    if (!bytes || *bytes < 0)
      return std::nullopt;
    answer.kind = Answer::Kind::kReset;
    answer.number = *bytes;
  } else if (text.starts_with("reject:")) {
    std::string_view rest = text.substr(7);
    size_t colon = rest.find(':');
    std::optional<int> code = ParseInt(rest.substr(0, colon));
    if (colon == std::string_view::npos || !code)
      return std::nullopt;
    answer.kind = Answer::Kind::kReject;
    answer.number = *code;
    answer.message = std::string(rest.substr(colon + 1));
  } else if (text.starts_with("status:")) {
    std::optional<int> status = ParseInt(text.substr(7));
    if (!status || *status < 100 || *status > 599)
      return std::nullopt;
    answer.kind = Answer::Kind::kStatus;
    answer.number = *status;
  } else if (text.starts_with("delay:")) {
    std::optional<int> milliseconds = ParseInt(text.substr(6));
    if (!milliseconds || *milliseconds < 0)
      return std::nullopt;
    answer.kind = Answer::Kind::kDelay;
    answer.number = *milliseconds;
  } else {
    return std::nullopt;
  }
  return answer;
}

std::optional<std::pair<int, Answer>> ParseAnswerSwitch(std::string_view text) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos)
    return std::nullopt;
  std::optional<int> after = ParseInt(text.substr(0, colon));
  std::optional<Answer> answer = ParseAnswer(text.substr(colon + 1));
  if (!after || *after < 0 || !answer)
    return std::nullopt;
  return std::pair{*after, *answer};
}

const Answer& AnswerPlan::ForRequest(int number) const {
  // The switch with the largest n below number.
  auto next = switches.lower_bound(number);
  return next == switches.begin() ? initial : std::prev(next)->second;
}

std::string Arc4(std::string_view data, std::string_view key) {
  if (key.empty())
    return std::string();
  std::array<uint8_t, 256> state;
  std::iota(state.begin(), state.end(), 0);
  uint8_t j = 0;
  for (size_t i = 0; i < state.size(); ++i) {
    j += state[i] + static_cast<uint8_t>(key[i % key.size()]);
    std::swap(state[i], state[j]);
  }
  std::string out(data);
  uint8_t i = 0;
  j = 0;
  for (char& c : out) {
    ++i;
    j += state[i];
    std::swap(state[i], state[j]);
    c = static_cast<char>(static_cast<uint8_t>(c) ^
                          state[static_cast<uint8_t>(state[i] + state[j])]);
  }
  return out;
}

ReceivingService::ReceivingService(Options options)
    : options_(std::move(options)) {}

ReceivingService::~ReceivingService() {
  Stop();
}

bool ReceivingService::Start() {
  if (server_)
    return false;
  std::error_code error;
  std::filesystem::create_directories(options_.out_dir, error);
  if (error) {
    std::fprintf(stderr, "receiving_service: cannot create %s: %s\n",
                 options_.out_dir.c_str(), error.message().c_str());
    return false;
  }

  server_ = std::make_unique<httplib::Server>();
  // httplib's default is SO_REUSEPORT, under which a second service binds
  // the same fixed port and silently takes half of the connections.
  // SO_REUSEADDR alone still rebinds a port left in TIME_WAIT but refuses
  // a port that is in use.
  server_->set_socket_options([](int socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  // Both read the body themselves, so that a reset can come while the
  // client is still sending it.
  server_->Post(kUploadPath, [this](const httplib::Request& request,
                                    httplib::Response& response,
                                    const httplib::ContentReader& content) {
    Serve(Endpoint::kUpload, request, content, response);
  });
  server_->Post(kTelemetryPath, [this](const httplib::Request& request,
                                       httplib::Response& response,
                                       const httplib::ContentReader& content) {
    Serve(Endpoint::kTelemetry, request, content, response);
  });
  // Handlers are tried in order, so this one sees only the other paths,
  // which are worth a line: a client with a wrong URL shows up here.
  server_->Post(".*", [this](const httplib::Request& request,
                             httplib::Response& response) {
    HandleUnexpected(request, response);
  });

  if (options_.port == 0)
    port_ = server_->bind_to_any_port(kHost);
  else
    port_ = server_->bind_to_port(kHost, options_.port) ? options_.port : -1;
  if (port_ < 0) {
    std::fprintf(stderr, "receiving_service: cannot listen on %s:%d\n", kHost,
                 options_.port);
    port_ = 0;
    return false;
  }

  // httplib's stop() only takes effect once the accept loop runs, so Start
  // returns only then; the loop ending at once also ends the wait.
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    loop_ended_ = true;
  });
  while (!server_->is_running() && !loop_ended_)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (loop_ended_) {
    std::fprintf(stderr, "receiving_service: the accept loop ended at once\n");
    return false;
  }
  return true;
}

void ReceivingService::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_requested_.notify_all();
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

std::vector<ReceivedUpload> ReceivingService::uploads() const {
  std::lock_guard lock(mutex_);
  return uploads_;
}

std::vector<std::string> ReceivingService::telemetry_events() const {
  std::lock_guard lock(mutex_);
  return telemetry_events_;
}

std::vector<std::string> ReceivingService::telemetry_verdicts() const {
  std::lock_guard lock(mutex_);
  return telemetry_verdicts_;
}

void ReceivingService::Serve(Endpoint endpoint,
                             const httplib::Request& request,
                             const httplib::ContentReader& content,
                             httplib::Response& response) {
  const bool upload = endpoint == Endpoint::kUpload;
  int number;
  Answer answer;
  {
    std::lock_guard lock(mutex_);
    number = upload ? ++upload_count_ : ++telemetry_count_;
    answer = (upload ? options_.upload : options_.telemetry).ForRequest(number);
  }
  std::string body;
  content([&body, &answer](const char* data, size_t length) {
    body.append(data, length);
    // Stops reading: the rest of the body stays on its way.
    return answer.kind != Answer::Kind::kReset ||
           body.size() < static_cast<size_t>(answer.number);
  });
  if (upload)
    HandleUpload(request, body, number, answer);
  else
    HandleTelemetry(request, body, number, answer);
  Respond(answer, request, upload, response);
}

void ReceivingService::HandleUpload(const httplib::Request& request,
                                    const std::string& body,
                                    int number,
                                    const Answer& answer) {
  ReceivedUpload upload;
  upload.number = number;
  upload.answer = answer.text;
  upload.body = body;
  std::string verdict = CheckSignature(request.headers, body);

  ScopedDoc doc;
  yyjson_val* event = nullptr;
  std::string body_reason = ParseUploadBody(body, &doc, &event);
  if (verdict.empty())
    verdict = body_reason;

  std::optional<std::string> dump;
  if (event) {
    upload.msg_id = StringMember(event, "msgId");
    upload.event_name = StringMember(event, "eventName");
    yyjson_val* event_id = yyjson_obj_get(event, "eventId");
    if (yyjson_is_int(event_id))
      upload.event_id = yyjson_get_sint(event_id);
    upload.event_time = StringMember(event, "eventTime");
    yyjson_val* content = yyjson_obj_get(event, "uploadContent");
    upload.report_id = StringMember(content, "ReportId");
    upload.occur_timestamp = StringMember(content, "OccurTimestamp");
    upload.local_timestamp = StringMember(content, "LocalTimestamp");

    // An empty file is sent without the member, never as "".
    yyjson_val* dump_text = yyjson_obj_get(event, "dump");
    if (dump_text) {
      if (yyjson_is_str(dump_text) && yyjson_get_len(dump_text) > 0) {
        dump = DecodeBase64(std::string_view(yyjson_get_str(dump_text),
                                             yyjson_get_len(dump_text)));
      }
      if (!dump && verdict.empty())
        verdict = "dump is not non-empty Base64 text";
    }
    if (dump) {
      upload.dump_size = dump->size();
      upload.dump_sha256 = DigestHex(EVP_sha256(), *dump);
    }
  }
  upload.verdict = verdict.empty() ? "ok" : verdict;

  {
    std::lock_guard lock(mutex_);
    if (event) {
      std::filesystem::path base =
          std::filesystem::path(options_.out_dir) /
          (IsPlainFileName(upload.msg_id)
               ? upload.msg_id
               : fmt::format("upload-{}", upload.number));
      // The body is "[" + event + "]", so the event's text is its inside.
      WriteFile(base.string() + ".json",
                std::string_view(body).substr(1, body.size() - 2),
                std::ios::trunc);
      std::string dump_path = base.string() + ".dmp";
      if (dump && WriteFile(dump_path, *dump, std::ios::trunc))
        upload.stored = dump_path;
    }
    AppendLine(std::filesystem::path(options_.out_dir) / "uploads.jsonl",
               UploadRecordLine(upload));

    std::string line = fmt::format(
        "upload {}: {}; msgId={} eventName={} eventTime={} ReportId={} "
        "OccurTimestamp={} ",
        upload.number,
        upload.verdict == "ok" ? "signature ok" : "FAILED " + upload.verdict,
        upload.msg_id, upload.event_name, upload.event_time, upload.report_id,
        upload.occur_timestamp);
    if (!dump) {
      line += "no dump";
    } else {
      line += fmt::format("dump {} bytes sha256={} ", upload.dump_size,
                          upload.dump_sha256);
      line +=
          upload.stored.empty() ? "not stored" : "stored at " + upload.stored;
    }
    Report(line + "; answered " + answer.text);
    uploads_.push_back(std::move(upload));
  }
}

void ReceivingService::HandleTelemetry(const httplib::Request& request,
                                       const std::string& body,
                                       int number,
                                       const Answer& answer) {
  std::vector<std::string> events, names;
  std::string verdict = InspectTelemetry(request, body, &events, &names);

  {
    std::lock_guard lock(mutex_);
    std::filesystem::path file =
        std::filesystem::path(options_.out_dir) / "telemetry.jsonl";
    std::string line;
    if (verdict.empty()) {
      for (const std::string& event : events)
        AppendLine(file, event);
      line = fmt::format("telemetry {}: {} events ({})", number, events.size(),
                         fmt::join(names, ", "));
      telemetry_events_.insert(telemetry_events_.end(), events.begin(),
                               events.end());
      telemetry_verdicts_.push_back("ok");
    } else {
      AppendLine(file, ObjectWriter().AddString("verdict", verdict).Text());
      line = fmt::format("telemetry {}: FAILED {}", number, verdict);
      telemetry_verdicts_.push_back(verdict);
    }
    Report(line + "; answered " + answer.text);
  }
}

void ReceivingService::HandleUnexpected(const httplib::Request& request,
                                        httplib::Response& response) {
  {
    std::lock_guard lock(mutex_);
    Report(fmt::format("unexpected request: {} {}; answered status:404",
                       request.method, request.target));
  }
  response.status = 404;
  response.set_content(R"({"status":404})", "application/json");
}

void ReceivingService::Respond(const Answer& answer,
                               const httplib::Request& request,
                               bool upload,
                               httplib::Response& response) {
  switch (answer.kind) {
    case Answer::Kind::kDelay: {
      std::unique_lock lock(mutex_);
      stop_requested_.wait_for(lock, std::chrono::milliseconds(answer.number),
                               [this] { return stopping_; });
    }
      [[fallthrough]];
    case Answer::Kind::kAccept:
      response.set_content(
          upload ? R"({"code":0,"message":"ok"})" : R"({"retcode":0})",
          "application/json");
      break;
    case Answer::Kind::kReject:
      response.set_content(
          ObjectWriter()
              .AddInt(upload ? "code" : "retcode", answer.number)
              .AddString(upload ? "message" : "msg", answer.message)
              .Text(),
          "application/json");
      break;
    case Answer::Kind::kStatus:
      response.status = answer.number;
      response.set_content(
          ObjectWriter().AddInt("status", answer.number).Text(),
          "application/json");
      break;
    case Answer::Kind::kHtml:
      response.set_content(
          "<html><head><title>502 Bad Gateway</title></head>"
          "<body><h1>502 Bad Gateway</h1></body></html>\n",
          "text/html");
      break;
    case Answer::Kind::kDrop:
      // The status line and headers go out, then the provider fails and
      // httplib closes the connection: the client reads a truncated answer.
      response.set_content_provider(
          kDroppedBodyLength, "application/json",
          [](size_t, size_t, httplib::DataSink&) { return false; });
      break;
    case Answer::Kind::kBody:
      response.set_content(answer.message, "application/json");
      break;
    case Answer::Kind::kHang: {
      std::unique_lock lock(mutex_);
      stop_requested_.wait(lock, [this] { return stopping_; });
    }
      EndConnection(request, /*reset=*/false);
      break;
    case Answer::Kind::kClose:
      EndConnection(request, /*reset=*/false);
      break;
    case Answer::Kind::kReset:
      EndConnection(request, /*reset=*/true);
      break;
  }
}

void ReceivingService::Report(const std::string& line) {
  if (options_.on_request)
    options_.on_request(line);
}

}  // namespace tools
