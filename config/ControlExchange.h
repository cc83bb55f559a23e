// Copies settings into the controls that bear their key names and back, so a
// dialog needs no code per setting.
#pragma once

#include "config/Component.h"
#include "config/Option.h"

// Walks the components owned by `owner` in order, each followed by the
// components it owns. A component whose name is a key (letter case ignored)
// takes the key's value through the first property it publishes: ItemIndex
// and Checked as integer and boolean, Text and TextValue as the key's text,
// Items as the comma list of that text.
void ApplyToControls(TOptions& options, IComponent& owner);

// The same walk the other way. A text that does not convert to the key's kind
// raises EConvertError at that component: keys read before it keep their new
// values, the rest their old ones. Previous values are not touched.
void ReadFromControls(TOptions& options, IComponent& owner);
