// The engine of a back end.
#include "engine/engine.h"

#include "engine/wimgapi_engine.h"
#include "engine/wimlib_engine.h"

std::unique_ptr<Engine> MakeEngine(const Backends& backends, const BackendChoice& choice,
                                   const OperationContext& context) {
  if (choice.backend == kBackendWimlib) return std::make_unique<WimlibEngine>(backends, context);
  return std::make_unique<WimgapiEngine>(backends, choice, context);
}
