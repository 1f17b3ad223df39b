defmodule DemoApp.MixProject do
  use Mix.Project

  def project do
    [
      app: :demo_app,
      version: "0.1.0",
      elixir: "~> 1.14",
      start_permanent: Mix.env() == :prod,
      deps: [],
      default_release: :demo_app,
      releases: [
        demo_app: [
          include_erts: true
        ],
        # The same application in a release that reboots after reading its
        # runtime configuration, so it writes that configuration to a file.
        demo_app_rebooting: [
          include_erts: true,
          reboot_system_after_config: true
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
