#include "model/attachment.h"

#include "model/model_url_builder.h"
#include "platform/foundation/url.h"

std::shared_ptr<Attachment> Attachment::init(const DocumentResponse& record) {
  if (!record.id || !record.name || !record.path || !record.fileName) return nullptr;
  std::shared_ptr<Attachment> attachment(new Attachment());
  attachment->id_ = *record.id;
  attachment->name_ = *record.name;
  attachment->url_ =
      stringByAddingPercentEncoding(ModelUrlBuilder::buildUrl(*record.path), URLCharacterSet::QueryAllowed);
  attachment->fileName_ = *record.fileName;
  return attachment;
}
