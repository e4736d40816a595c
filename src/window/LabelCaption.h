#pragma once

#include <QLabel>

#include "transfer/ProgressView.h"

namespace korvani::window {

// A label of the window seen as a caption the fetch can write to.
class LabelCaption final : public transfer::Caption {
 public:
  enum class Sizing {
    FitsText,  // grows or shrinks with its caption; its top-left corner stays put
    Fixed,     // keeps its laid-out size whatever it shows
  };

  LabelCaption(QLabel& label, Sizing sizing) : label_(label), sizing_(sizing) {}

  void SetCaption(const std::string& text) override;
  void Refresh() override;

 private:
  QLabel& label_;
  Sizing sizing_;
};

}  // namespace korvani::window
