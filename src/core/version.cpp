// Placeholder so the library has a source while the core is being laid out.
namespace kdv {
const char* VersionText() { return "0.1.0"; }
}  // namespace kdv
