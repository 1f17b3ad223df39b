defmodule DemoService.Server do
  @moduledoc """
  Listens on the port and answers every HTTP request with one line of text:
  the greeting, the method and the path. One process per connection.
  """
  use GenServer

  def start_link(options), do: GenServer.start_link(__MODULE__, options, name: __MODULE__)

  @impl true
  def init(%{port: port, greeting: greeting}) do
    listen = [:binary, packet: :http_bin, active: false, reuseaddr: true]

    case :gen_tcp.listen(port, listen) do
      {:ok, socket} ->
        {:ok, actual} = :inet.port(socket)
        # A test or a supervisor script waits for this line.
        IO.puts("demo_service listening on port #{actual}")
        acceptor = spawn_link(fn -> accept(socket, greeting) end)
        {:ok, %{socket: socket, acceptor: acceptor}}

      {:error, reason} ->
        IO.puts(
          :stderr,
          "demo_service: cannot listen on port #{port}: #{:inet.format_error(reason)}"
        )

        System.halt(1)
    end
  end

  defp accept(socket, greeting) do
    {:ok, client} = :gen_tcp.accept(socket)
    {:ok, handler} = Task.start(fn -> receive(do: (:go -> answer(client, greeting))) end)
    :ok = :gen_tcp.controlling_process(client, handler)
    send(handler, :go)
    accept(socket, greeting)
  end

  defp answer(client, greeting) do
    with {:ok, {:http_request, method, {:abs_path, path}, _version}} <- :gen_tcp.recv(client, 0),
         :ok <- skip_headers(client) do
      body = "#{greeting} from demo_service: #{method} #{path}\n"

      :gen_tcp.send(client, [
        "HTTP/1.1 200 OK\r\ncontent-type: text/plain\r\nconnection: close\r\n",
        "content-length: #{byte_size(body)}\r\n\r\n",
        body
      ])
    end

    :gen_tcp.close(client)
  end

  defp skip_headers(client) do
    case :gen_tcp.recv(client, 0) do
      {:ok, :http_eoh} -> :ok
      {:ok, {:http_header, _, _, _, _}} -> skip_headers(client)
      other -> other
    end
  end
end
