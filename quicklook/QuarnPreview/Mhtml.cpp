#include "quicklook/QuarnPreview/Mhtml.h"

#include <algorithm>
#include <cstdint>

#include "base/Utf8.h"

namespace quarn::Mhtml {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineCharacters = 76;  // the MIME maximum

// A header value kept to printable ASCII, so no text of the file can end the
// header early or inject one.
std::string headerText(std::string_view text) {
  std::string value;
  for (char c : text) value += (c >= 0x20 && c < 0x7F) ? c : '_';
  return value;
}

// Base64 lines hold no "_" and the root part is checked, so a boundary with
// "_" in it that the page lacks cannot be confused with content.
std::string boundaryFor(std::string_view page, const QLPreviewReplyAttachments& attachments) {
  for (std::uint64_t attempt = 0;; ++attempt) {
    std::string boundary = "----=_quarn_part_" + std::to_string(attempt);
    bool clash = page.find(boundary) != std::string_view::npos;
    for (const auto& [name, attachment] : attachments) {
      clash = clash || name.find(boundary) != std::string::npos ||
              attachment.contentType.mimeType.find(boundary) != std::string::npos;
    }
    if (!clash) return boundary;
  }
}

// 39 bytes make 52 base64 characters: with "=?UTF-8?B?", "?=" and the
// "Subject: " before the first word every line stays under 76 characters.
constexpr std::size_t kWordBytes = 39;

// Printable ASCII as it is; any other text as RFC 2047 UTF-8 encoded words,
// one per folded line, each holding whole characters so that every word
// decodes on its own. Control characters become "_" either way.
std::string subjectText(std::string_view title) {
  std::string text = utf8::withByteReplacements(title);
  bool ascii = true;
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '_';
    ascii = ascii && byte < 0x80;
  }
  if (ascii) return text;
  std::string value;
  for (std::size_t start = 0, end = 0; start < text.size(); start = end) {
    while (end < text.size()) {
      const auto length = static_cast<std::size_t>(utf8::sequenceLength(text.substr(end)));
      if (end + length - start > kWordBytes) break;
      end += length;
    }
    if (!value.empty()) value += "\r\n ";
    value += "=?UTF-8?B?" + base64(text.substr(start, end - start)) + "?=";
  }
  return value;
}

// `lineLength` characters per line, each ended by CR LF; 0 for one line.
std::string encode(std::string_view bytes, std::size_t lineLength) {
  std::string encoded;
  encoded.reserve(bytes.size() / 3 * 4 + bytes.size() / 57 * 2 + 8);
  std::size_t onLine = 0;
  const auto put = [&](char c) {
    encoded += c;
    if (++onLine == lineLength) {
      encoded += "\r\n";
      onLine = 0;
    }
  };
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    put(kAlphabet[(group >> 18) & 0x3F]);
    put(kAlphabet[(group >> 12) & 0x3F]);
    put(count > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=');
    put(count > 2 ? kAlphabet[group & 0x3F] : '=');
  }
  if (onLine > 0 && lineLength > 0) encoded += "\r\n";
  return encoded;
}

}  // namespace

std::string base64Lines(std::string_view bytes) { return encode(bytes, kLineCharacters); }

std::string base64(std::string_view bytes) { return encode(bytes, 0); }

std::string archive(std::string_view page, const QLPreviewReplyAttachments& attachments,
                    std::string_view title) {
  const std::string boundary = boundaryFor(page, attachments);
  std::string out;
  out += "From: <Saved by quarn-preview>\r\n";
  out += "Subject: " + subjectText(title) + "\r\n";
  out += "MIME-Version: 1.0\r\n";
  out += "Content-Type: multipart/related;\r\n\ttype=\"text/html\";\r\n\tboundary=\"" + boundary +
         "\"\r\n\r\n";
  out += "--" + boundary + "\r\n";
  out += "Content-Type: text/html; charset=utf-8\r\n";
  out += "Content-Transfer-Encoding: binary\r\n";
  // Chromium takes the root part's address as the page's own; relative
  // addresses then stay inside the archive.
  out += "Content-Location: file:///quarn-preview.html\r\n\r\n";
  out += page;
  out += "\r\n";
  for (const auto& [name, attachment] : attachments) {
    out += "--" + boundary + "\r\n";
    out += "Content-Type: " + headerText(attachment.contentType.mimeType) + "\r\n";
    out += "Content-Transfer-Encoding: base64\r\n";
    out += "Content-ID: <" + headerText(name) + ">\r\n\r\n";
    out += base64Lines(attachment.data);
  }
  out += "--" + boundary + "--\r\n";
  return out;
}

}  // namespace quarn::Mhtml
