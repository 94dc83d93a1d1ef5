// Msg: what the engine writes into a plug-in's buffer in answer to a command. A text or a record
// travels by the buffer protocol: asked with a null buffer, the engine answers the size the
// plug-in must provide; asked with a buffer, it writes exactly that many bytes and answers 0;
// when there is nothing to give (an empty text, an object not found) it answers 0 and writes
// nothing. Records have the pointer-sized layouts of sdk/kxplugin.h and are followed by their
// texts in the same buffer, their text words pointing there.
//
// The engine cannot see how large a plug-in's buffer is: it trusts that the plug-in provided the
// size it answered before, and writes no byte beyond that size. Any thread; the records read the
// database, so their builders run where the database may be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "kxplugin.h"

class TXMLObject;
class TkxFeatures;
class TkxInstallTypes;

// A record as it will lie in the plug-in's buffer: its fixed part, then its texts in the order
// they were added.
class TRecordImage {
 public:
  template <class Header>
  explicit TRecordImage(const Header& header) : header_(sizeof(Header)) {
    static_assert(std::is_trivially_copyable_v<Header>);
    std::memcpy(header_.data(), &header, sizeof(Header));
  }

  // Lays text after the texts added before; the header's pointer word at wordOffset receives its
  // address in the buffer.
  void AddText(size_t wordOffset, const std::string& text);
  size_t Size() const;
  // Zero-fills Size() bytes of buffer, then writes the record there.
  void WriteTo(char* buffer) const;

 private:
  std::vector<char> header_;
  std::vector<std::pair<size_t, std::string>> texts_;
};

// The buffer protocol for a text: 0 when the text is empty; its length + 1 for a null buffer;
// else the text and a zero byte are written into buffer and the answer is 0.
kx_ptr AnswerText(const std::string& text, kx_ptr buffer);
// The same for a record: 0 when there is none, its size for a null buffer, else written and 0.
kx_ptr AnswerRecord(const std::optional<TRecordImage>& record, kx_ptr buffer);

// The language record (KxLanguageRecord) of the offered language with that abbreviation (case
// ignored; the first one for ""), languages holding "ABBREVIATION=display name" entries.
// Nothing when it is not offered.
std::optional<TRecordImage> LanguageRecord(const std::vector<std::string>& languages,
                                           const std::string& abbreviation);
// The feature record (KxFeatureRecord) of the available feature with that ID (the first one for
// ""), its name and description expanded in context. Nothing when there is no such feature.
std::optional<TRecordImage> FeatureRecord(const TkxFeatures& features, const std::string& id,
                                          const TXMLObject* context);
// The install type record (KxInstallTypeRecord) of the available install type with that ID (the
// first one for ""), its texts expanded in context. Nothing when there is no such type.
std::optional<TRecordImage> InstallTypeRecord(const TkxInstallTypes& installTypes,
                                              const std::string& id, const TXMLObject* context);
