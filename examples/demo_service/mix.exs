defmodule DemoService.MixProject do
  use Mix.Project

  def project do
    [
      app: :demo_service,
      version: "0.1.0",
      elixir: "~> 1.14",
      start_permanent: Mix.env() == :prod,
      deps: [],
      # Packed with `wexlo pack --service` (or the Mix step's `service: true`).
      releases: [demo_service: [include_erts: true]]
    ]
  end

  def application do
    [
      extra_applications: [:logger],
      mod: {DemoService.Application, []}
    ]
  end
end
