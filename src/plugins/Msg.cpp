#include "plugins/Msg.h"

#include <cstddef>

#include "database/KXClasses.h"
#include "support/zrStrUtils.h"

void TRecordImage::AddText(size_t wordOffset, const std::string& text) {
  texts_.emplace_back(wordOffset, text);
}

size_t TRecordImage::Size() const {
  size_t size = header_.size();
  for (const auto& [offset, text] : texts_) size += text.size() + 1;
  return size;
}

void TRecordImage::WriteTo(char* buffer) const {
  std::memset(buffer, 0, Size());
  std::memcpy(buffer, header_.data(), header_.size());
  char* cursor = buffer + header_.size();
  for (const auto& [offset, text] : texts_) {
    std::memcpy(cursor, text.data(), text.size());  // the zero after it is there already
    const kx_ptr address = reinterpret_cast<kx_ptr>(cursor);
    // Packed records put pointer words at any offset: copied byte-wise, never stored through a
    // misaligned pointer.
    std::memcpy(buffer + offset, &address, sizeof(address));
    cursor += text.size() + 1;
  }
}

kx_ptr AnswerText(const std::string& text, kx_ptr buffer) {
  if (text.empty()) return 0;
  if (!buffer) return static_cast<kx_ptr>(text.size() + 1);
  std::memcpy(reinterpret_cast<char*>(buffer), text.c_str(), text.size() + 1);
  return 0;
}

kx_ptr AnswerRecord(const std::optional<TRecordImage>& record, kx_ptr buffer) {
  if (!record) return 0;
  if (!buffer) return static_cast<kx_ptr>(record->Size());
  record->WriteTo(reinterpret_cast<char*>(buffer));
  return 0;
}

std::optional<TRecordImage> LanguageRecord(const std::vector<std::string>& languages,
                                           const std::string& abbreviation) {
  size_t index = 0;
  if (!abbreviation.empty()) {
    while (index < languages.size() && !SameText(NameOf(languages[index]), abbreviation)) ++index;
  }
  if (index >= languages.size()) return std::nullopt;
  TRecordImage record{KxLanguageRecord{}};
  record.AddText(offsetof(KxLanguageRecord, abbreviation), NameOf(languages[index]));
  record.AddText(offsetof(KxLanguageRecord, displayName), ValueOf(languages[index]));
  if (index + 1 < languages.size()) {
    record.AddText(offsetof(KxLanguageRecord, next), NameOf(languages[index + 1]));
  }
  return record;
}

std::optional<TRecordImage> FeatureRecord(const TkxFeatures& features, const std::string& id,
                                          const TXMLObject* context) {
  TkxFeature* parent = nullptr;
  TkxFeature* next = nullptr;
  const TkxFeature* feature = FindFeature(features, id, parent, next);
  if (!feature) return std::nullopt;
  KxFeatureRecord header{};
  header.required = feature->Required ? -1 : 0;
  TRecordImage record{header};
  record.AddText(offsetof(KxFeatureRecord, id), feature->ID);
  record.AddText(offsetof(KxFeatureRecord, name), ExpandText(context, feature->Name));
  record.AddText(offsetof(KxFeatureRecord, description), ExpandText(context, feature->Description));
  if (parent) record.AddText(offsetof(KxFeatureRecord, parent), parent->ID);
  if (next) record.AddText(offsetof(KxFeatureRecord, next), next->ID);
  return record;
}

std::optional<TRecordImage> InstallTypeRecord(const TkxInstallTypes& installTypes,
                                              const std::string& id, const TXMLObject* context) {
  TkxInstallType* next = nullptr;
  const TkxInstallType* type = FindInstallType(installTypes, id, next);
  if (!type) return std::nullopt;
  KxInstallTypeRecord header{};
  header.custom = type->Custom ? -1 : 0;
  TRecordImage record{header};
  record.AddText(offsetof(KxInstallTypeRecord, id), type->ID);
  record.AddText(offsetof(KxInstallTypeRecord, name), ExpandText(context, type->Name));
  record.AddText(offsetof(KxInstallTypeRecord, description),
                 ExpandText(context, type->Description));
  if (next) record.AddText(offsetof(KxInstallTypeRecord, next), next->ID);
  return record;
}
