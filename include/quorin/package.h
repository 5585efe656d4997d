// The package: registration of the components on the palette page "Quorin".
#pragma once

namespace quorin {

namespace Blocks {
// Puts the model, the scheduler and the blocks on page "Quorin".
void Register();
} // namespace Blocks

namespace Statsim {
// Puts TMultiRand, then TTabulator, on page "Quorin".
void Register();
} // namespace Statsim

} // namespace quorin
