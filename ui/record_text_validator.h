#pragma once
// Blocks typing a character that a camera's text cannot hold (Windows-1252).

#include <QValidator>

namespace vantoro::ui {

class RecordTextValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

} // namespace vantoro::ui
