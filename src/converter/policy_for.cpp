#include "converter/policy_for.hpp"

#include "converter/complete_policy.hpp"
#include "converter/literal_policy.hpp"

namespace tessaly::converter {

std::unique_ptr<ResolutionPolicy> make_policy(const schema::SchemaModel& model) {
    if (model.resolution == Resolution::Complete) return std::make_unique<CompletePolicy>(model);
    return std::make_unique<LiteralPolicy>(model);
}

}  // namespace tessaly::converter
