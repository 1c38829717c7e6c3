#pragma once

#include <QWidget>

#include <optional>
#include <string>

class QLabel;

namespace tavrik {

// A field with a red message under it and a red rounded border around it while the message is present.
class ValidatedField : public QWidget {
    Q_OBJECT
public:
    ValidatedField(QWidget* field, QWidget* parent = nullptr);

    void setMessage(const std::optional<std::string>& message);
    // The red rounded border alone, for a field whose message stands elsewhere.
    static void setBorder(QWidget* field, bool shown);
    QLabel* messageLabel() const { return label; }
    QWidget* field() const { return content; }

private:
    QWidget* content;
    QLabel* label;
};

} // namespace tavrik
