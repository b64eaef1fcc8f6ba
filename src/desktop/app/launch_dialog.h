#pragma once
// Asks for the seven launch values of the worksheet.

#include <QDialog>
#include <string>
#include <vector>

class QLineEdit;

namespace apura::desktop {

class LaunchDialog : public QDialog {
  Q_OBJECT
 public:
  explicit LaunchDialog(QWidget* parent = nullptr, std::vector<std::string> initial = {});
  // In launch order: centre, buyer code, buyer name, start, end, tally, repeat flag.
  std::vector<std::string> Values() const;
  void accept() override;

 private:
  std::vector<QLineEdit*> edits_;
};

}  // namespace apura::desktop
