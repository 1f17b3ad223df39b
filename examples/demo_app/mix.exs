defmodule DemoApp.MixProject do
  use Mix.Project

  def project do
    [
      app: :demo_app,
      version: "0.1.0",
      elixir: "~> 1.14",
      start_permanent: Mix.env() == :prod,
      deps: [],
      releases: [
        demo_app: [
          include_erts: true
        ]
      ]
    ]
  end

  def application do
    [
      extra_applications: [:logger],
      mod: {DemoApp.Application, []}
    ]
  end
end
