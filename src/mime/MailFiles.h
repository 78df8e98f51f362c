#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Captured messages as mail files other programs read: one message as a .eml file, many as an
// mbox file (the mboxrd form). Pure functions on bytes and paths; the store is not seen here.
namespace MailFiles {

// A message read from a file, in the store's form: sender "<addr>", recipients "<a>, <b>",
// the data with CR LF line ends.
struct FileMessage {
    std::string sender;
    std::string recipients;
    std::string data;
};

// Writes the data as it is: the stored data is already the message as received (CR LF, dots
// unstuffed). False when the file cannot be written.
bool writeEml(const std::filesystem::path& path, std::string_view data);

// One mbox entry: the "From " line with the envelope sender and the time of arrival (UTC), the
// data with LF line ends and ">From " quoting, then an empty line.
std::string mboxEntry(std::string_view envelopeSender, std::chrono::system_clock::time_point received,
                      std::string_view data);

// Writes an mbox file one message at a time, so that all of them are never held twice.
class MboxWriter {
public:
    explicit MboxWriter(const std::filesystem::path& path);
    void append(std::string_view envelopeSender, std::chrono::system_clock::time_point received, std::string_view data);
    // Closes the file; true when everything was written.
    bool finish();

private:
    std::ofstream m_file;
};

// The messages in a mail file's bytes: a file that starts with "From " is an mbox, anything else
// one message. Sender and recipients come from the From, To, Cc and Bcc fields. None when the
// (first) message does not start with a header: the file holds no mail.
std::vector<FileMessage> readMailBytes(std::string_view bytes);

// The same, read from a path; nothing when the file cannot be read.
std::optional<std::vector<FileMessage>> readMailFile(const std::filesystem::path& path);

} // namespace MailFiles
