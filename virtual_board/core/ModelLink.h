// ModelLink.h - the board's side of the model seam (BoardModel.h): the
// registered model, or a stand-in without hardware behind it.
#ifndef VYX_BOARD_CORE_MODELLINK_H
#define VYX_BOARD_CORE_MODELLINK_H

#include "BoardModel.h"

namespace vb {
namespace link {

// The registered model's operations; a stand-in with nothing behind it when
// none registered.  Never null.
const ModelOps& model();
// Starts the model once; later calls do nothing.
void start(const HardwareView& hw, const BoardPort& port);
bool running();
// The program called into the board: let the running model look now.
void sync();

}  // namespace link
}  // namespace vb

#endif
