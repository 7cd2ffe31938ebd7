#include "sessions/local/evaluator_factory.h"

#include <mutex>
#include <stdexcept>
#include <utility>

namespace brn {

namespace {

std::mutex& factoryMutex() {
  static std::mutex mutex;
  return mutex;
}

TBRNSessionEvaluatorFactory& installedFactory() {
  static TBRNSessionEvaluatorFactory factory;
  return factory;
}

}  // namespace

TBRNSessionEvaluatorFactory SetSessionEvaluatorFactory(TBRNSessionEvaluatorFactory factory) {
  std::lock_guard<std::mutex> guard(factoryMutex());
  return std::exchange(installedFactory(), std::move(factory));
}

std::unique_ptr<TBRNExpressionEvaluator> CreateSessionEvaluator(TBRNLocalSessionManager& session) {
  TBRNSessionEvaluatorFactory factory;
  {
    std::lock_guard<std::mutex> guard(factoryMutex());
    factory = installedFactory();
  }
  if (!factory) return std::make_unique<TBRNSessionStubEvaluator>();
  std::unique_ptr<TBRNExpressionEvaluator> evaluator = factory(session);
  if (!evaluator) throw std::logic_error("The session evaluator factory made no evaluator");
  return evaluator;
}

TBRNEvaluationContext* TBRNSessionStubEvaluator::SwapContext(TBRNEvaluationContext* context) {
  return std::exchange(Current, context);
}

void TBRNSessionStubEvaluator::RestoreContext(TBRNEvaluationContext* previous) {
  Current = previous;
}

void TBRNSessionStubEvaluator::EvaluateExpression(TBRNExprToken*) {
  throw std::logic_error("Expression evaluation is not available yet");
}

void TBRNSessionStubEvaluator::ExecuteRoutine(TBRNExprToken*) {
  throw std::logic_error("Routine execution is not available yet");
}

}  // namespace brn
