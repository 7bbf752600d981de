#include "ui/record_text_validator.h"

#include "util/record_text.h"

namespace vantoro::ui {

QValidator::State RecordTextValidator::validate(QString& input, int&) const
{
    return RecordTextFromUtf8(input.toStdString()) ? Acceptable : Invalid;
}

} // namespace vantoro::ui
