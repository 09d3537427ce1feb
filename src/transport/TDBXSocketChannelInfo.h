// Channel information of the socket channel: the id and the layer's info text.
#pragma once

#include <string>

#include "dbx/TDbxChannel.h"

namespace ab {

class TDBXSocketChannelInfo : public TDBXChannelInfo {
  public:
    TDBXSocketChannelInfo(int id, std::u16string info)
        : TDBXChannelInfo(id), info_(std::move(info)) {}
    const std::u16string& Info() const { return info_; }

  private:
    std::u16string info_;
};

}  // namespace ab
