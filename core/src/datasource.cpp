#include "datasource.h"

#include "dialect/ir.h"
#include "error.h"
#include "naming/naming.h"

namespace varnel::datasource {

namespace {

constexpr std::string_view kTexts[] = {"mongo", "mysql", "postgres", "sqlite", "local"};

std::optional<DataSource> kind_from_lowered(std::string_view lowered) {
  if (lowered == "mongodb" || lowered == "mongo") return DataSource::Mongo;
  if (lowered == "memory" || lowered == "local") return DataSource::Local;
  auto backend = dialect::backend_from_text(lowered);
  if (!backend) return std::nullopt;
  switch (*backend) {
    case dialect::Backend::Mysql:
      return DataSource::Mysql;
    case dialect::Backend::Postgres:
      return DataSource::Postgres;
    case dialect::Backend::Sqlite:
      break;
  }
  return DataSource::Sqlite;
}

}  // namespace

std::optional<DataSource> kind_from_text(std::string_view text) {
  return kind_from_lowered(naming::lower_unicode(text));
}

DataSource from_kind(std::string_view text) {
  std::string lowered = naming::lower_unicode(text);
  auto kind = kind_from_lowered(lowered);
  if (!kind) fail("不支持的后端: {}", {lowered});
  return *kind;
}

std::string_view datasource_text(DataSource kind) {
  return kTexts[static_cast<std::size_t>(kind)];
}

DataSourceConfig DataSourceConfig::from_json(const Json& value) {
  DataSourceConfig config;
  const Json* sources = find_key(value, "sources");
  if (sources == nullptr || !sources->is_object()) return config;
  for (const auto& [name, kind] : sources->get_ref<const Json::object_t&>()) {
    if (!kind.is_string()) fail("数据源 {} 的 kind 必须是字符串", {name});
    config.register_source(name, from_kind(kind.get_ref<const std::string&>()));
  }
  return config;
}

void DataSourceConfig::register_source(std::string name, DataSource kind) {
  for (auto& entry : sources_) {
    if (entry.first == name) {
      entry.second = kind;
      return;
    }
  }
  sources_.emplace_back(std::move(name), kind);
}

DataSource DataSourceConfig::resolve(const std::optional<std::string>& name) const {
  std::string_view wanted = name ? std::string_view(*name) : std::string_view("default");
  for (const auto& [n, kind] : sources_) {
    if (n == wanted) return kind;
  }
  if (name) fail("schema 绑定的数据源未在配置中声明: {}", {*name});
  return DataSource::Mongo;
}

const std::optional<std::string>& schema_datasource(const schema::Registry& registry,
                                                    std::string_view schema_name) {
  return registry.get(schema_name).source;
}

DataSource resolve_datasource(const schema::Registry& registry, std::string_view schema_name,
                              const Json& config) {
  const schema::Schema& s = registry.get(schema_name);
  return DataSourceConfig::from_json(config).resolve(s.source);
}

}  // namespace varnel::datasource
