// The web side of the demo: a budget state decided by the customer on the web, put in the
// stand-in web service's queue through its control surface, where the agent's poll finds it.
#pragma once

#include <string>

namespace fesko::workshop {

// POSTs {"idcompra": N, "orden": ..., "estado": ...} to BASE_control/queue. Raises
// std::runtime_error with the reason when the stand-in cannot be reached or refuses.
void QueueBudgetState(const std::string& base_url, int idcompra, const std::string& orden,
                      const std::string& estado);

}  // namespace fesko::workshop
