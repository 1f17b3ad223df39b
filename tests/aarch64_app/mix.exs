# The application tests/aarch64_beam_test.sh packs for linux-aarch64 on an
# x86-64 host: both releases are assembled with Debian's arm64 runtime
# (HASHER_ERTS, its erts-<v> directory) and packed by the Mix step
# (WEXLO_PACKAGE_DIR, the package in elixir/), which tells the target from
# that runtime.
defmodule Hasher.MixProject do
  use Mix.Project

  def project do
    [
      app: :hasher,
      version: "0.1.0",
      elixir: "~> 1.14",
      deps: [{:wexlo, path: System.fetch_env!("WEXLO_PACKAGE_DIR"), runtime: false}],
      releases: [
        hasher: release([]),
        hasher_service: release(service: true)
      ]
    ]
  end

  defp release(wexlo) do
    [
      include_erts: System.fetch_env!("HASHER_ERTS"),
      steps: [:assemble, &Wexlo.pack/1],
      wexlo: [compression: :zstd, level: 3] ++ wexlo
    ]
  end

  def application do
    [extra_applications: [:crypto], mod: {Hasher, []}]
  end
end
