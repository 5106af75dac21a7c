// SPDX-License-Identifier: GPL-3.0-or-later
// How many threads the runtime layer's decoders and encoders take. Part of the runtime layer's
// public face, beside wmsdk.h: a front end that runs several processes at once gives each its
// share of the cores.
#pragma once

namespace wmf {

// The cores that this process's decoders and encoders may keep busy: by default the machine's;
// a caller that runs several processes at once gives each its share with SetThreadBudget (at
// least 1). A decoder takes one thread less than the budget (at least one), since converting and
// measuring its frames and encoding the picks keep a core busy of their own, and frame threads
// beyond what the cores can run cost time in every frame while each holds a picture. An encoder
// takes the whole budget. Readers and writers made after the call follow it.
void SetThreadBudget(int nThreads);
int ThreadBudget();
int DecoderThreads();

}  // namespace wmf
